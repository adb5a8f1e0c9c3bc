// Windows file times (100 ns units since 1601-01-01 UTC) and seconds since 1970-01-01 UTC.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr int64_t kFileTimeOfEpoch = 116444736000000000;
constexpr int64_t kFileTimeTicksPerSecond = 10000000;

inline int64_t FileTimeTicks(const FILETIME& time) {
  return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

// The second that holds the instant, rounded down also before 1970.
inline int64_t FileTimeToSeconds(const FILETIME& time) {
  const int64_t ticks = FileTimeTicks(time) - kFileTimeOfEpoch;
  const int64_t seconds = ticks / kFileTimeTicksPerSecond;
  return ticks % kFileTimeTicksPerSecond < 0 ? seconds - 1 : seconds;
}
