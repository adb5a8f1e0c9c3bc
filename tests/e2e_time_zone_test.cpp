// End-to-end tests of the date line in the zone of the run, in both builds.
#include <gtest/gtest.h>

#include <string>

#include "support/lumo_run.h"
#include "support/report_lines.h"
#include "support/target.h"
#include "support/temp_tree.h"

namespace {

TEST(Listing, WriteTimesOutsideTheYearsShownReadAsZeros) {
  TempTree tree;
  tree.File("before", "", -86400 * 400);
  tree.File("after", "", int64_t{4102444800});  // 2100
  tree.File("epoch", "", 0);
  const std::string d = tree.root() + "/";
  const std::string none = "\t0000/00/00 00:00:00\t";
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "*"}).out,
            Line(d + "after", 0, none) + Line(d + "before", 0, none) +
                Line(d + "epoch", 0, "\t1970/01/01 00:00:00\t"));
  // West of UTC the epoch falls in 1969 local time.
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "epoch"}, InZone("America/New_York")).out,
            Line(d + "epoch", 0, none));
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "epoch"}, InZone("Asia/Tokyo")).out,
            Line(d + "epoch", 0, "\t1970/01/01 09:00:00\t"));
  // The last second that a signed 32-bit count holds, and the first it does not.
  tree.File("last", "", 2147483647);
  tree.File("late", "", 2147483648);
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "la*"}).out,
            Line(d + "last", 0, "\t2038/01/19 03:14:07\t") + Line(d + "late", 0, none));
}

// Both builds: a zone by its IANA name and in the C runtime's own form ("JST-9"), which the
// Win32 build reads in different ways.
TEST(TimeZones, ShowTheLocalTimeOfTheZone) {
  TempTree tree;
  tree.File("epoch", "", 0);
  tree.File("summer", "", 1689422400);  // 2023-07-15 12:00:00 UTC
  const std::string d = tree.root() + "/";
  const std::string none = "\t0000/00/00 00:00:00\t";
  const struct {
    const char* tz;
    const char* epoch;  // nullptr: before 1970 there
    const char* summer;
  } cases[] = {
      {"UTC", "1970/01/01 00:00:00", "2023/07/15 12:00:00"},
      {"Asia/Tokyo", "1970/01/01 09:00:00", "2023/07/15 21:00:00"},
      {"JST-9", "1970/01/01 09:00:00", "2023/07/15 21:00:00"},
      {"America/New_York", nullptr, "2023/07/15 08:00:00"},
      {"EST5EDT", nullptr, "2023/07/15 08:00:00"},
      {"Europe/Berlin", "1970/01/01 01:00:00", "2023/07/15 14:00:00"},
  };
  for (const auto& c : cases) {
    const std::string epoch = c.epoch != nullptr ? std::string("\t") + c.epoch + "\t" : none;
    EXPECT_EQ(
        RunLumo({TargetPath(tree.root()), "*"}, InZone(c.tz)).out,
        Line(d + "epoch", 0, epoch) + Line(d + "summer", 0, std::string("\t") + c.summer + "\t"))
        << c.tz;
  }
}

}  // namespace
