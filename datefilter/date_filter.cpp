#include "datefilter/date_filter.h"

#include <cstdint>
#include <ctime>

#include "platform/calendar.h"
#include "platform/civil_date.h"
#include "platform/console.h"
#include "settings/run_settings.h"

namespace {

constexpr int32_t kLastWriteTime = INT32_MAX;  // the last second a write time can hold
constexpr int64_t kAfterAll = int64_t{kLastWriteTime} + 1;
constexpr int64_t kBeforeAll = int64_t{INT32_MIN} - 1;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads a run of digits, saturating at the largest 32-bit value.
int32_t ReadNumber(const char** cursor) {
  int32_t value = 0;
  for (; IsDigit(**cursor); ++*cursor) {
    const int digit = **cursor - '0';
    value = value > (kLastWriteTime - digit) / 10 ? kLastWriteTime : value * 10 + digit;
  }
  return value;
}

// Whether day `day` of month `month` (0: December before) of the year of `today` is today or later.
bool NotBeforeToday(const std::tm& today, int32_t month, int32_t day) {
  const int64_t year = int64_t{today.tm_year} + 1900;
  const int64_t first = month == 0 ? DaysFromCivil(year - 1, 12, 1) : DaysFromCivil(year, month, 1);
  return first + day - 1 >= DaysFromCivil(year, today.tm_mon + 1, today.tm_mday);
}

bool SameDay(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday;
}

// The first (wantLast: last) instant at `hour`:`minute`:`second` of the local day `day`. On the
// day of a daylight-saving change that time may occur twice or not at all, so each reading of
// the flag is tried and only results that stay on the day count.
bool InstantOfDay(const std::tm& day, int hour, int minute, int second, bool wantLast,
                  int64_t* instant) {
  bool found = false;
  for (int isdst = -1; isdst <= 1; ++isdst) {
    std::tm work = day;
    work.tm_hour = hour;
    work.tm_min = minute;
    work.tm_sec = second;
    work.tm_isdst = isdst;
    int64_t t = 0;
    if (!FromLocalCalendar(&work, &t) || !SameDay(work, day)) continue;
    if (!found || (wantLast ? t > *instant : t < *instant)) *instant = t;
    found = true;
  }
  return found;
}

}  // namespace

void ParseDateSpec(const char* text, int64_t now) {
  DateRange& range = gSettings.dateRange;
  range.activeMarker = now != 0 ? now : 1;  // 0 would read as "no date option"
  const int64_t nowAsUpper = now < kLastWriteTime ? now : int64_t{kLastWriteTime};
  const int64_t nowAsLower = now > 0 ? now : 0;

  const char* cursor = text;
  if (!IsDigit(*cursor)) {
    range.upperBound = nowAsUpper;
    if (*cursor != '-') range.lowerBound = nowAsLower;
    return;
  }

  const int32_t first = ReadNumber(&cursor);
  std::tm local{};
  const bool haveLocal = ToLocalCalendar(now, &local);
  int32_t month = local.tm_mon + 1;
  int32_t day = first;
  if (*cursor == '/') {
    ++cursor;
    if (first <= 12) month = first;
    if (IsDigit(*cursor)) day = ReadNumber(&cursor);
  }
  const char form = *cursor;  // '+': from the day on; '-': up to its start; else the day alone

  // The day is normalised at noon, which no daylight-saving change comes near.
  std::tm target = local;
  target.tm_mon = month - 1;
  target.tm_mday = day;
  target.tm_hour = 12;
  target.tm_min = target.tm_sec = 0;
  target.tm_isdst = -1;
  int64_t noon = 0;
  int64_t start = 0;
  int64_t end = 0;
  const bool representable =
      haveLocal && FromLocalCalendar(&target, &noon) &&
      InstantOfDay(target, 0, 0, 0, false, &start) &&
      (form == '+' || form == '-' || InstantOfDay(target, 23, 59, 59, true, &end));
  if (!representable) {
    // Past the calendar's reach: a day after today is later than every write time, an earlier
    // one is before them all.
    const bool later = haveLocal ? NotBeforeToday(local, month, day) : now > 0;
    start = end = later ? kAfterAll : kBeforeAll;
  }

  if (form != '-') range.lowerBound = start > 0 ? start : 0;
  if (form != '+') {
    const int64_t upper = form == '-' ? start : end;
    range.upperBound = upper < kLastWriteTime ? upper : int64_t{kLastWriteTime};
  }
}

bool IsInDateRange(int32_t writeTime) {
  const DateRange& range = gSettings.dateRange;
  if (range.activeMarker == 0) return false;
  if (writeTime < range.lowerBound || writeTime > range.upperBound) return false;
  // The table gives the day a column of its own, on the entry's line.
  if (gSettings.verbose && !gSettings.table) {
    std::tm local{};
    if (ToLocalCalendar(writeTime, &local)) {
      WriteFormatted("%02d/%02d ", local.tm_mon + 1, local.tm_mday);
    } else {
      WriteFormatted("00/00 ");
    }
  }
  return true;
}
