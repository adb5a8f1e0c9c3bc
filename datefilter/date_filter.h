// The date option: a range of local calendar days that narrows the listing.
#pragma once

#include <cstdint>

// Sets gSettings.dateRange from the text that follows the option letter D, as of `now`.
void ParseDateSpec(const char* text, int64_t now);

// Whether an entry written at `writeTime` lies in the active range. Under the verbose flag an
// admitted entry's month and day are written first.
bool IsInDateRange(int32_t writeTime);
