// End-to-end tests of the table for scripts (-T). The Win32 build's table is compared with this
// build's by tests/differential/compare_builds.py.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "fixtures/pe_image_writer.h"
#include "support/lumo_run.h"
#include "support/report_lines.h"
#include "support/target.h"
#include "support/temp_tree.h"

namespace {

const std::string kHeader =
    "Path\tDate\tSize\tCompanyName\tFileDescription\tFileVersion\tInternalName\t"
    "LegalCopyright\tOriginalFilename\tProductName\tProductVersion\n";

// The line of `path` with the eight strings `fields`, empty where none is given.
std::string Row(const std::string& path, size_t size, const std::string& date = kDate,
                std::vector<std::string> fields = {}) {
  fields.resize(8);
  std::string row = Line(path, static_cast<int64_t>(size), date);
  row.pop_back();
  for (const std::string& field : fields) row += "\t" + field;
  return row + "\n";
}

TEST(Table, GivesTheEntriesTheReportListsOneLineOfElevenFieldsEach) {
  if (TargetIsWin32()) GTEST_SKIP() << "names with tabs and line ends";
  TempTree tree;
  std::vector<VersionString> eight = {{u"CompanyName", u"a\tb\\c\r\n"}, {u"FileDescription", u"D"},
                                      {u"FileVersion", u"1"},           {u"InternalName", u"I"},
                                      {u"LegalCopyright", u"L"},        {u"OriginalFilename", u"O"},
                                      {u"ProductName", u"P"},           {u"ProductVersion", u"2"}};
  const std::string all = AsString(SimpleVersionedImage(eight));
  const std::string some = AsString(SimpleVersionedImage({eight[6], {u"FileVersion", u""}}));
  VersionInfoSpec shortTranslation;
  shortTranslation.translation = {0x0409};
  PeImageSpec spec;
  spec.resources = {{16, 1, 0x0409, BuildVersionResource(shortTranslation)}};
  tree.File("a.exe", all, kTime);
  tree.File("b.dll", some, kTime);
  tree.File("c.dll", AsString(BuildPeImage(spec)), kTime);  // listed by neither
  for (const char* name : {"d\tx", "d\nx", "d\\x"}) tree.File(name, "", kTime);
  const std::string versioned =
      Row(tree.Path("a.exe"), all.size(), kDate,
          {"a\\tb\\\\c\\r\\n", "D", "1", "I", "L", "O", "P", "2"}) +
      Row(tree.Path("b.dll"), some.size(), kDate, {"", "", "", "", "", "", "P"});
  const std::string bare =
      Row(tree.Path("d\\tx"), 0) + Row(tree.Path("d\\nx"), 0) + Row(tree.Path("d\\\\x"), 0);
  // -1: パス 日時 サイズ 会社名 ...
  const std::string japanese = "\xe3\x83\x91\xe3\x82\xb9\t\xe6\x97\xa5\xe6\x99\x82\t";
  EXPECT_EQ(RunLumo({"-T", tree.root(), "*"}).out, kHeader + versioned + bare);
  EXPECT_EQ(RunLumo({"-2t0N", tree.root(), "*"}).out, kHeader + versioned);
  EXPECT_EQ(RunLumo({"-T2", tree.root(), "*"}).out, versioned + bare);
  const std::string out = RunLumo({"-T1", tree.root(), "*"}).out;
  EXPECT_EQ(out.substr(0, japanese.size()), japanese);
  EXPECT_EQ(out.substr(out.find('\n') + 1), versioned + bare);
}

TEST(Table, HasItsHeaderFirstAndTheTotalsLastAndTheAdmittingDayUnderV) {
  if (TargetIsWin32()) GTEST_SKIP() << "compared by compare_builds.py";
  // Day texts name days of the year the clock reads, so the files are made in it.
  const time_t now = time(nullptr);
  std::tm day{};
  gmtime_r(&now, &day);
  day.tm_mon = 5;
  day.tm_mday = 15;
  day.tm_hour = 12;
  day.tm_min = day.tm_sec = 0;
  const int64_t june15 = timegm(&day);
  char date[32];
  snprintf(date, sizeof date, "\t%04d/06/15 12:00:00\t", day.tm_year + 1900);
  TempTree tree;
  tree.Dir("sub");
  tree.File("sub/b", "22", june15);
  tree.File("sub/later", "333", june15 + 86400);  // after the range
  tree.SetMtime("sub", june15);
  const LumoResult result = RunLumo({"-STV", "-D6/15+", "-D6/16-", tree.root(), "*"});
  const time_t later = time(nullptr);
  if (gmtime_r(&later, &day)->tm_year + 1900 != atoi(date + 1)) {
    GTEST_SKIP() << "the year turned";
  }
  EXPECT_EQ(result.out, "Day\t" + kHeader + "06/15\t" + Row(tree.Path("sub"), 0, date) + "06/15\t" +
                            Row(tree.Path("sub/b"), 2, date) +
                            "Total   3 file(s) 5 bytes (0K bytes).\n");
  EXPECT_EQ(RunLumo({"-T", tree.root(), "*.none"}).out, kHeader);
}

}  // namespace
