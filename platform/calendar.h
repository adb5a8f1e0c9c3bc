// Conversions between seconds since 1970-01-01 UTC and local calendar time, by the process's
// time zone (TZ where set, else the system's).
#pragma once

#include <cstdint>
#include <ctime>

// Fills `local` with the local broken-down time of `seconds`. Returns false when it has none.
bool ToLocalCalendar(int64_t seconds, std::tm* local);

// Converts a local broken-down time to seconds, normalising out-of-range fields and writing the
// normalised fields (with the daylight-saving flag worked out) back. Returns false, leaving
// `local` as it was, when the time cannot be represented.
bool FromLocalCalendar(std::tm* local, int64_t* seconds);

// The current time in seconds since 1970-01-01 UTC.
int64_t CurrentTime();
