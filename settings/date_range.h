// The range of last-write times that the date option admits.
#pragma once

#include <cstdint>

// Bounds are inclusive, in seconds since 1970-01-01 UTC. They are wider than the 32-bit write
// times they are compared with, so that a bound past the last 32-bit second can say so.
struct DateRange {
  int64_t activeMarker = 0;  // 0 until a date option is parsed; then the time it was parsed
  int64_t lowerBound = 1;
  int64_t upperBound = 2147483647;
};
