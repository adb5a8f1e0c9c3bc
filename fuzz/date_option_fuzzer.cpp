// The text of the date option, parsed as of a few fixed moments in a zone with daylight saving.
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "datefilter/date_filter.h"
#include "settings/run_settings.h"
#include "support/settings_reset.h"

namespace {

constexpr int64_t kMoments[] = {
    1700000000,  // 2023-11-14, an ordinary day
    1711846800,  // 2024-03-31, the day the clocks go forward
    2147480000,  // 2038-01-19, an hour before the last 32-bit second
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (int64_t now : kMoments) {
    ResetRunSettings();
    ParseDateSpec(text.c_str(), now);
    const DateRange& range = gSettings.dateRange;
    // The lower bound is never before the epoch, the upper never past the last 32-bit second.
    if (range.activeMarker != now || range.lowerBound < 0 || range.upperBound > INT32_MAX ||
        range.upperBound < int64_t{INT32_MIN} - 1) {
      abort();
    }
    for (int32_t t : {INT32_MIN, -1, 0, 1, static_cast<int32_t>(now), INT32_MAX}) {
      IsInDateRange(t);
    }
  }
  ResetRunSettings();
  return 0;
}
