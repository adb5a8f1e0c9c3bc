// What the walk counts: every matching entry, admitted by the date range or not.
#pragma once

#include <cstdint>

struct WalkTotals {
  int32_t matchedCount = 0;
  uint32_t sizeSum = 0;  // wraps modulo 2^32; shown as a signed 32-bit number
};

extern WalkTotals gTotals;
