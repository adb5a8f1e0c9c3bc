// The write time of an entry, as both builds form it from the entry's last-write instant.
#pragma once

#include <cstdint>

// The instant (seconds since 1970-01-01 UTC) as a write time: itself, or -1 when it lies
// outside the 32-bit count or outside the local calendar years 1970 to 2038.
int32_t WriteTimeFromInstant(int64_t seconds);
