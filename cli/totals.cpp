#include "cli/totals.h"

#include "platform/console.h"
#include "walk/walk_totals.h"

void PrintTotals() {
  // The sum wraps modulo 2^32 and reads as a signed number; the division truncates toward 0.
  const int32_t sum = static_cast<int32_t>(gTotals.sizeSum);
  WriteFormatted("Total %3d file(s) %ld bytes (%ldK bytes).\n", gTotals.matchedCount,
                 static_cast<long>(sum), static_cast<long>(sum / 1024));
}
