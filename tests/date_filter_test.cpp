#include "datefilter/date_filter.h"
#include "support/settings_reset.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/console.h"
#include "settings/run_settings.h"

namespace {

constexpr int64_t kNoLower = 1;
constexpr int64_t kNoUpper = 2147483647;
// Expected bounds that stand for any instant after, or before, every 32-bit write time.
constexpr int64_t kPast2038 = -2;
constexpr int64_t kBeforeAll = -3;

// "YYYY-MM-DD hh:mm:ss +hhmm" as seconds since 1970-01-01 UTC.
int64_t At(const char* text) {
  std::tm t{};
  int offset = 0;
  sscanf(text, "%d-%d-%d %d:%d:%d %d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
         &t.tm_sec, &offset);
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  const int offsetSeconds = (offset / 100) * 3600 + (offset % 100) * 60;
  return static_cast<int64_t>(timegm(&t)) - offsetSeconds;
}

void UseZone(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
}

class DateFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetRunSettings(); }
  void TearDown() override {
    ResetRunSettings();
    UseZone("UTC");
  }
};

struct ParseCase {
  const char* tz;
  int64_t now;
  const char* text;
  int64_t lower;
  int64_t upper;
};

const int64_t kMay = At("2026-05-20 10:00:00 +0000");
const int64_t kTokyo = At("2026-05-20 08:00:00 +0900");  // still May 19 in UTC
const int64_t kBerlinWinter = At("2026-02-10 12:00:00 +0100");
const int64_t kBerlinSummer = At("2026-07-01 12:00:00 +0200");
const int64_t kBerlinRepeatedHour = At("2026-10-25 02:30:00 +0100");
const int64_t kNewYorkWinter = At("2026-01-10 12:00:00 -0500");
const int64_t kNewYorkSummer = At("2026-08-01 12:00:00 -0400");
const int64_t kSantiago = At("2024-03-01 12:00:00 -0300");
// The first and last days the calendar can hold, where a neighbouring year cannot be reached.
const int64_t kLastYear = 67768036191633600;
const int64_t kFirstYear = -67768040609697600;

const ParseCase kParseCases[] = {
    {"UTC", kMay, "", kMay, kMay},
    {"UTC", kMay, "-", kNoLower, kMay},
    {"UTC", kMay, "x3/15", kMay, kMay},
    {"UTC", kMay, "15", At("2026-05-15 00:00:00 +0000"), At("2026-05-15 23:59:59 +0000")},
    {"UTC", kMay, "3/15", At("2026-03-15 00:00:00 +0000"), At("2026-03-15 23:59:59 +0000")},
    {"UTC", kMay, "3/15+", At("2026-03-15 00:00:00 +0000"), kNoUpper},
    {"UTC", kMay, "3/15-", kNoLower, At("2026-03-15 00:00:00 +0000")},
    {"UTC", kMay, "13/5", At("2026-05-05 00:00:00 +0000"), At("2026-05-05 23:59:59 +0000")},
    {"UTC", kMay, "0/5", At("2025-12-05 00:00:00 +0000"), At("2025-12-05 23:59:59 +0000")},
    {"UTC", kMay, "1/0", At("2025-12-31 00:00:00 +0000"), At("2025-12-31 23:59:59 +0000")},
    {"UTC", kMay, "12/32", At("2027-01-01 00:00:00 +0000"), At("2027-01-01 23:59:59 +0000")},
    {"UTC", kMay, "2/30", At("2026-03-02 00:00:00 +0000"), At("2026-03-02 23:59:59 +0000")},
    {"UTC", kMay, "3/", At("2026-03-03 00:00:00 +0000"), At("2026-03-03 23:59:59 +0000")},
    {"UTC", kMay, "20/", At("2026-05-20 00:00:00 +0000"), At("2026-05-20 23:59:59 +0000")},
    {"UTC", kMay, "3/15+7/1-", At("2026-03-15 00:00:00 +0000"), kNoUpper},
    {"UTC", kMay, "3/15x-", At("2026-03-15 00:00:00 +0000"), At("2026-03-15 23:59:59 +0000")},
    {"UTC", kMay, "003/0015", At("2026-03-15 00:00:00 +0000"), At("2026-03-15 23:59:59 +0000")},
    // May 4282nd is 2038-01-19, the day of the last write time.
    {"UTC", kMay, "4282", At("2038-01-19 00:00:00 +0000"), kNoUpper},
    {"UTC", kMay, "4283", kPast2038, kNoUpper},
    {"UTC", kMay, "4283-", kNoLower, kNoUpper},
    {"UTC", kMay, "99999999999999999999", kPast2038, kNoUpper},
    // 2^32 would read as 0 in a wrapping 32-bit count.
    {"UTC", kMay, "4294967296", kPast2038, kNoUpper},
    {"UTC", kMay, "4294967296/3", At("2026-05-03 00:00:00 +0000"), At("2026-05-03 23:59:59 +0000")},
    {"UTC", kMay, "1/99999999999999999999+", kPast2038, kNoUpper},
    {"UTC", kMay, "99999999999999999999/2", At("2026-05-02 00:00:00 +0000"),
     At("2026-05-02 23:59:59 +0000")},
    {"UTC", kLastYear, "12/32", kPast2038, kNoUpper},
    {"UTC", kFirstYear, "0/5", 0, kBeforeAll},
    {"Asia/Tokyo", kTokyo, "", kTokyo, kTokyo},
    {"Asia/Tokyo", kTokyo, "15", At("2026-05-15 00:00:00 +0900"), At("2026-05-15 23:59:59 +0900")},
    {"Asia/Tokyo", kTokyo, "1/0", At("2025-12-31 00:00:00 +0900"), At("2025-12-31 23:59:59 +0900")},
    {"Europe/Berlin", kBerlinWinter, "7/1", At("2026-07-01 00:00:00 +0200"),
     At("2026-07-01 23:59:59 +0200")},
    {"Europe/Berlin", kBerlinWinter, "3/29", At("2026-03-29 00:00:00 +0100"),
     At("2026-03-29 23:59:59 +0200")},
    {"Europe/Berlin", kBerlinWinter, "10/25", At("2026-10-25 00:00:00 +0200"),
     At("2026-10-25 23:59:59 +0100")},
    {"Europe/Berlin", kBerlinWinter, "3/30-", kNoLower, At("2026-03-30 00:00:00 +0200")},
    {"Europe/Berlin", kBerlinSummer, "1/15", At("2026-01-15 00:00:00 +0100"),
     At("2026-01-15 23:59:59 +0100")},
    {"Europe/Berlin", kBerlinSummer, "3/29", At("2026-03-29 00:00:00 +0100"),
     At("2026-03-29 23:59:59 +0200")},
    {"Europe/Berlin", kBerlinSummer, "10/26+", At("2026-10-26 00:00:00 +0100"), kNoUpper},
    {"Europe/Berlin", kBerlinRepeatedHour, "25", At("2026-10-25 00:00:00 +0200"),
     At("2026-10-25 23:59:59 +0100")},
    {"America/New_York", kNewYorkWinter, "3/8", At("2026-03-08 00:00:00 -0500"),
     At("2026-03-08 23:59:59 -0400")},
    {"America/New_York", kNewYorkWinter, "11/1", At("2026-11-01 00:00:00 -0400"),
     At("2026-11-01 23:59:59 -0500")},
    {"America/New_York", kNewYorkSummer, "1/10", At("2026-01-10 00:00:00 -0500"),
     At("2026-01-10 23:59:59 -0500")},
    {"America/New_York", kNewYorkSummer, "0/5", At("2025-12-05 00:00:00 -0500"),
     At("2025-12-05 23:59:59 -0500")},
    // Changes at midnight: 23:59:59 of April 6 occurs twice; 00:00 of September 8 never.
    {"America/Santiago", kSantiago, "4/6", At("2024-04-06 00:00:00 -0300"),
     At("2024-04-06 23:59:59 -0400")},
    {"America/Santiago", kSantiago, "9/8", At("2024-09-08 01:00:00 -0300"),
     At("2024-09-08 23:59:59 -0300")},
};

TEST_F(DateFilterTest, ParsesEachForm) {
  for (const ParseCase& c : kParseCases) {
    SCOPED_TRACE(std::string(c.tz) + " D" + c.text);
    ResetRunSettings();
    UseZone(c.tz);
    ParseDateSpec(c.text, c.now);
    const DateRange& range = gSettings.dateRange;
    EXPECT_EQ(range.activeMarker, c.now);
    if (c.lower == kPast2038) {
      EXPECT_GT(range.lowerBound, kNoUpper);
    } else {
      EXPECT_EQ(range.lowerBound, c.lower);
    }
    if (c.upper == kBeforeAll) {
      EXPECT_LT(range.upperBound, INT32_MIN);
    } else {
      EXPECT_EQ(range.upperBound, c.upper);
    }
  }
}

TEST_F(DateFilterTest, LaterOptionsSetOnlyTheEndsTheyName) {
  UseZone("Europe/Berlin");
  ParseDateSpec("3/1+", kBerlinSummer);
  ParseDateSpec("3/31-", kBerlinSummer);
  EXPECT_EQ(gSettings.dateRange.lowerBound, At("2026-03-01 00:00:00 +0100"));
  EXPECT_EQ(gSettings.dateRange.upperBound, At("2026-03-31 00:00:00 +0200"));
  ParseDateSpec("-", kBerlinWinter);
  EXPECT_EQ(gSettings.dateRange.lowerBound, At("2026-03-01 00:00:00 +0100"));
  EXPECT_EQ(gSettings.dateRange.upperBound, kBerlinWinter);
}

struct AdmitCase {
  const char* text;  // empty: no date option
  int32_t writeTime;
  bool admitted;
};

const int32_t kDayStart = static_cast<int32_t>(At("2026-03-15 00:00:00 +0000"));
const int32_t kDayEnd = static_cast<int32_t>(At("2026-03-15 23:59:59 +0000"));

const AdmitCase kAdmitCases[] = {
    {nullptr, kDayStart, false}, {"3/15", kDayStart - 1, false},  {"3/15", kDayStart, true},
    {"3/15", kDayEnd, true},     {"3/15", kDayEnd + 1, false},    {"3/15", -1, false},
    {"3/15-", kDayStart, true},  {"3/15-", kDayStart + 1, false}, {"3/15-", 0, false},
    {"3/15-", -1, false},        {"3/15+", kNoUpper, true},       {"4283+", kNoUpper, false},
    {"4282", kNoUpper, true},
};

TEST_F(DateFilterTest, AdmitsWriteTimesWithinTheBounds) {
  UseZone("UTC");
  for (const AdmitCase& c : kAdmitCases) {
    SCOPED_TRACE(std::string("D") + (c.text ? c.text : "(none)") + " " +
                 std::to_string(c.writeTime));
    ResetRunSettings();
    if (c.text) ParseDateSpec(c.text, kMay);
    EXPECT_EQ(IsInDateRange(c.writeTime), c.admitted);
  }
}

TEST_F(DateFilterTest, VerbosePrefixesAdmittedEntriesWithLocalMonthAndDay) {
  UseZone("Asia/Tokyo");
  gSettings.verbose = true;
  ParseDateSpec("3/1+", kTokyo);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(IsInDateRange(static_cast<int32_t>(At("2026-02-28 23:59:59 +0900"))));
  EXPECT_TRUE(IsInDateRange(static_cast<int32_t>(At("2026-03-01 00:00:00 +0900"))));
  EXPECT_TRUE(IsInDateRange(static_cast<int32_t>(At("2026-12-31 23:00:00 +0900"))));
  FinishOutput();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "03/01 12/31 ");
}

}  // namespace
