#include "platform/write_time.h"

#include <climits>
#include <ctime>

#include "platform/calendar.h"

int32_t WriteTimeFromInstant(int64_t seconds) {
  if (seconds < INT32_MIN || seconds > INT32_MAX) return -1;
  // Only an instant within a day of the epoch can fall in another local year than 1970-2038.
  if (seconds < 2 * 86400) {
    std::tm local;
    if (!ToLocalCalendar(seconds, &local) || local.tm_year < 70) return -1;
  }
  return static_cast<int32_t>(seconds);
}
