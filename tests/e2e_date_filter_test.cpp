// End-to-end tests of the date option. Its dates fall in the current year, so each test makes
// its files in the year that the clock reads when it starts, and gives up if the year turns
// while it runs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "support/lumo_run.h"
#include "support/target.h"
#include "support/temp_tree.h"

namespace {

int LocalYearNow(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
  const time_t now = time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

// A local time of `year` given with its UTC offset, e.g. "03-15 00:00:00 +0100".
struct Moment {
  int64_t seconds;
  std::string shown;  // as the report shows it
};

Moment At(int year, const char* text) {
  int month = 0, day = 0, hour = 0, minute = 0, second = 0, offset = 0;
  sscanf(text, "%d-%d %d:%d:%d %d", &month, &day, &hour, &minute, &second, &offset);
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  char shown[32];
  snprintf(shown, sizeof shown, "%04d/%02d/%02d %02d:%02d:%02d", year, month, day, hour, minute,
           second);
  return {timegm(&t) - (offset / 100) * 3600 - (offset % 100) * 60, shown};
}

std::string Line(const std::string& path, const Moment& when, int size) {
  return path + "\t" + when.shown + "\t" + std::to_string(size) + "\n";
}

struct DayCase {
  const char* tz;
  const char* option;
  const char* justBefore;
  const char* first;
  const char* last;
  const char* justAfter;
};

const DayCase kDayCases[] = {
    {"Europe/Berlin", "-D3/15", "03-14 23:59:59 +0100", "03-15 00:00:00 +0100",
     "03-15 23:59:59 +0100", "03-16 00:00:00 +0100"},
    {"Europe/Berlin", "-D7/15", "07-14 23:59:59 +0200", "07-15 00:00:00 +0200",
     "07-15 23:59:59 +0200", "07-16 00:00:00 +0200"},
    // From March 1 up to the first second of March 31.
    {"Asia/Tokyo", "-D3/1+ -D3/31-", "02-28 23:59:59 +0900", "03-01 00:00:00 +0900",
     "03-31 00:00:00 +0900", "03-31 00:00:01 +0900"},
};

TEST(DateOption, AdmitsExactlyTheEntriesWrittenInTheRange) {
  for (const DayCase& c : kDayCases) {
    SCOPED_TRACE(std::string(c.tz) + " " + c.option);
    const int year = LocalYearNow(c.tz);
    const Moment before = At(year, c.justBefore), first = At(year, c.first);
    const Moment last = At(year, c.last), after = At(year, c.justAfter);
    TempTree tree;
    tree.File("a", "", before.seconds);
    tree.File("b", "1", first.seconds);
    tree.File("c", "22", last.seconds);
    tree.File("d", "333", after.seconds);
    std::vector<std::string> args;
    for (std::string option = c.option; !option.empty();) {
      const size_t space = option.find(' ');
      args.push_back(option.substr(0, space));
      option.erase(0, space == std::string::npos ? space : space + 1);
    }
    args.push_back(TargetPath(tree.root()));
    args.push_back("*");
    const LumoResult result = RunLumo(args, LumoRun{c.tz, "C", ""});
    if (LocalYearNow(c.tz) != year) GTEST_SKIP() << "the year turned";
    const std::string d = tree.root() + "/";
    EXPECT_EQ(result.out, Line(d + "b", first, 1) + Line(d + "c", last, 2));
    EXPECT_EQ(result.status, 0);
  }
}

TEST(DateOption, VerbosePrefixesMonthAndDayAndTotalsCountRejectedEntries) {
  const char* tz = "Europe/Berlin";
  const int year = LocalYearNow(tz);
  const Moment first = At(year, "03-15 00:00:00 +0100");
  const Moment last = At(year, "03-15 23:59:59 +0100");
  TempTree tree;
  tree.File("a", "", At(year, "03-14 23:59:59 +0100").seconds);
  tree.File("b", "1", first.seconds);
  tree.File("c", "22", last.seconds);
  tree.File("d", std::string(2048, 'x'), At(year, "03-16 00:00:00 +0100").seconds);
  const std::string d = tree.root() + "/";
  const std::string totals = "Total   4 file(s) 2051 bytes (2K bytes).\n";

  const LumoResult listed = RunLumo({"-V", "-D3/15", TargetPath(tree.root()), "*"}, {tz, "C", ""});
  // Under -N a file without version information shows nothing after its prefix.
  const LumoResult quiet = RunLumo({"-NVD3/15", TargetPath(tree.root()), "*"}, {tz, "C", ""});
  if (LocalYearNow(tz) != year) GTEST_SKIP() << "the year turned";
  EXPECT_EQ(listed.out,
            "03/15 " + Line(d + "b", first, 1) + "03/15 " + Line(d + "c", last, 2) + totals);
  EXPECT_EQ(quiet.out, "03/15 03/15 " + totals);
}

}  // namespace
