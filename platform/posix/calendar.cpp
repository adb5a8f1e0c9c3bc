#include "platform/calendar.h"

#include <time.h>

bool ToLocalCalendar(int64_t seconds, std::tm* local) {
  const time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, local) != nullptr;
}

bool FromLocalCalendar(std::tm* local, int64_t* seconds) {
  std::tm work = *local;
  // mktime's -1 is also a real instant (one second before the epoch); a changed tm_wday
  // tells a success from a failure.
  work.tm_wday = -1;
  const time_t t = mktime(&work);
  if (t == static_cast<time_t>(-1) && work.tm_wday == -1) return false;
  *local = work;
  *seconds = static_cast<int64_t>(t);
  return true;
}

int64_t CurrentTime() {
  return static_cast<int64_t>(time(nullptr));
}
