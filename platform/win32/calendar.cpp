#include "platform/calendar.h"

#include <windows.h>

#include <cstdlib>
#include <ctime>

#include "platform/civil_date.h"
#include "platform/win32/file_time.h"

namespace {

// The instants a SYSTEMTIME can hold: years 1601 to 30827.
constexpr int64_t kFirstSecond = -11644473600;
constexpr int64_t kLastSecond = 910692730085;

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A TZ in the C runtime's own form ("JST-9", "EST5EDT", "UTC") is read as the runtime reads
// it. Any other TZ, such as "Asia/Tokyo", the runtime would misread as a zero offset with
// made-up daylight saving, so the system's zone is used instead (under Wine it follows the
// host's TZ).
bool RuntimeZone() {
  static const bool runtime = [] {
    const char* tz = getenv("TZ");
    if (tz == nullptr || !IsLetter(tz[0]) || !IsLetter(tz[1]) || !IsLetter(tz[2])) return false;
    const char* offset = tz[3] == '+' || tz[3] == '-' ? tz + 4 : tz + 3;
    if (tz[3] != '\0' && !(*offset >= '0' && *offset <= '9')) return false;
    _tzset();
    return true;
  }();
  return runtime;
}

// The system zone's rules for `year`, kept for the year last asked for.
bool ZoneOfYear(int year, TIME_ZONE_INFORMATION* zone) {
  static int cachedYear = -1;
  static TIME_ZONE_INFORMATION cached;
  if (year != cachedYear) {
    if (!GetTimeZoneInformationForYear(static_cast<USHORT>(year), nullptr, &cached) &&
        GetTimeZoneInformation(&cached) == TIME_ZONE_ID_INVALID) {
      return false;
    }
    cachedYear = year;
  }
  *zone = cached;
  return true;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - (a % b < 0 ? 1 : 0);
}

// The fields of a SYSTEMTIME as seconds, as if it were UTC.
int64_t SecondsOf(const SYSTEMTIME& time) {
  return DaysFromCivil(time.wYear, time.wMonth, time.wDay) * 86400 + time.wHour * 3600 +
         time.wMinute * 60 + time.wSecond;
}

bool ToSystemTime(int64_t seconds, SYSTEMTIME* time) {
  if (seconds < kFirstSecond || seconds > kLastSecond) return false;
  const uint64_t ticks =
      static_cast<uint64_t>(seconds * kFileTimeTicksPerSecond + kFileTimeOfEpoch);
  const FILETIME fileTime{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  return FileTimeToSystemTime(&fileTime, time);
}

// The local time of `seconds` in the system zone, and its offset east of UTC in seconds.
bool SystemZoneLocal(int64_t seconds, std::tm* local, int64_t* offset) {
  SYSTEMTIME utc;
  SYSTEMTIME shown;
  TIME_ZONE_INFORMATION zone;
  if (!ToSystemTime(seconds, &utc) || !ZoneOfYear(utc.wYear, &zone) ||
      !SystemTimeToTzSpecificLocalTime(&zone, &utc, &shown)) {
    return false;
  }
  *offset = SecondsOf(shown) - seconds;
  *local = std::tm{};
  local->tm_year = shown.wYear - 1900;
  local->tm_mon = shown.wMonth - 1;
  local->tm_mday = shown.wDay;
  local->tm_hour = shown.wHour;
  local->tm_min = shown.wMinute;
  local->tm_sec = shown.wSecond;
  const int64_t days = DaysFromCivil(shown.wYear, shown.wMonth, shown.wDay);
  local->tm_wday = static_cast<int>((days % 7 + 11) % 7);  // 1970-01-01 was a Thursday
  local->tm_yday = static_cast<int>(days - DaysFromCivil(shown.wYear, 1, 1));
  local->tm_isdst = *offset != -60 * int64_t{zone.Bias + zone.StandardBias} ? 1 : 0;
  return true;
}

}  // namespace

bool ToLocalCalendar(int64_t seconds, std::tm* local) {
  if (RuntimeZone()) {
    const __time64_t t = seconds;
    return _localtime64_s(local, &t) == 0;
  }
  int64_t offset = 0;
  return SystemZoneLocal(seconds, local, &offset);
}

bool FromLocalCalendar(std::tm* local, int64_t* seconds) {
  if (RuntimeZone()) {
    std::tm work = *local;
    // The runtime holds no instant before 1970, so -1 is always its failure.
    const __time64_t t = _mktime64(&work);
    if (t == -1) return false;
    *local = work;
    *seconds = t;
    return true;
  }
  const int64_t year = int64_t{local->tm_year} + 1900 + FloorDiv(local->tm_mon, 12);
  const int64_t month = local->tm_mon - FloorDiv(local->tm_mon, 12) * 12 + 1;
  if (year < 1601 || year > 30827) return false;
  const int64_t wall = (DaysFromCivil(year, month, 1) + local->tm_mday - 1) * 86400 +
                       int64_t{local->tm_hour} * 3600 + int64_t{local->tm_min} * 60 + local->tm_sec;
  // The wall time read with the standard offset and with the daylight one; the flag picks
  // one, and without it the reading that gives the wall time back wins. In the hour that a
  // change to daylight saving skips, neither does, and the standard reading stands.
  TIME_ZONE_INFORMATION zone;
  if (!ZoneOfYear(static_cast<int>(year), &zone)) return false;
  const int64_t standard = wall + 60 * int64_t{zone.Bias + zone.StandardBias};
  const int64_t daylight = wall + 60 * int64_t{zone.Bias + zone.DaylightBias};
  const bool hasDaylight = zone.DaylightDate.wMonth != 0 && standard != daylight;
  int64_t t = standard;
  if (hasDaylight && local->tm_isdst > 0) {
    t = daylight;
  } else if (hasDaylight && local->tm_isdst < 0) {
    std::tm shown;
    int64_t offset = 0;
    const bool standardHolds = SystemZoneLocal(standard, &shown, &offset) && shown.tm_isdst == 0;
    if (!standardHolds && SystemZoneLocal(daylight, &shown, &offset) && shown.tm_isdst == 1) {
      t = daylight;
    }
  }
  std::tm work;
  int64_t offset = 0;
  if (!SystemZoneLocal(t, &work, &offset)) return false;
  *local = work;
  *seconds = t;
  return true;
}

int64_t CurrentTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FileTimeToSeconds(now);
}
