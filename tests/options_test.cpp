#include "cli/options.h"
#include "support/settings_reset.h"

#include <gtest/gtest.h>

#include "platform/path_separator.h"
#include "settings/run_settings.h"

namespace {

struct OptionCase {
  const char* argument;
  int labelMode;
  bool suppressUnversioned;
  bool recurse;
  bool verbose;
  bool dateActive;
};

TEST(ParseOptionArgument, AppliesEachLetter) {
  const OptionCase cases[] = {
      {"-", 0, false, false, false, false},     {"-S", 0, false, true, false, false},
      {"-sN1", 1, true, true, false, false},    {"-012", 2, false, false, false, false},
      {"-20", 0, false, false, false, false},   {"-v", 0, false, false, true, false},
      {"-xyz?", 0, false, false, false, false}, {"-SD3/1", 0, false, true, false, true},
      {"-D3/1S", 0, false, false, false, true},  // the S belongs to the date text
      {"-d", 0, false, false, false, true},     {"-n", 0, true, false, false, false},
  };
  for (const OptionCase& c : cases) {
    ResetRunSettings();
    ParseOptionArgument(c.argument);
    EXPECT_EQ(gSettings.labelMode, c.labelMode) << c.argument;
    EXPECT_EQ(gSettings.suppressUnversioned, c.suppressUnversioned) << c.argument;
    EXPECT_EQ(gSettings.recurse, c.recurse) << c.argument;
    EXPECT_EQ(gSettings.verbose, c.verbose) << c.argument;
    EXPECT_EQ(gSettings.dateRange.activeMarker != 0, c.dateActive) << c.argument;
  }
  ResetRunSettings();
}

TEST(ParseOptionArgument, FlagsOnlyEverSwitchOn) {
  ResetRunSettings();
  ParseOptionArgument("-SNV");
  ParseOptionArgument("-0");
  EXPECT_TRUE(gSettings.recurse && gSettings.suppressUnversioned && gSettings.verbose);
  ResetRunSettings();
}

TEST(AppendSeparator, AppendsUnlessTheLastByteIsTheSeparator) {
  const std::string sep(1, kPathSeparator);
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", sep},
      {"dir", "dir" + sep},
      {"dir" + sep, "dir" + sep},
      {sep, sep},
      {"a" + sep + sep, "a" + sep + sep},
      {"dir\\", "dir\\" + sep},  // only the platform's separator counts
  };
  for (const auto& c : cases) {
    std::string path = c.in;
    AppendSeparator(&path);
    EXPECT_EQ(path, c.out) << c.in;
  }
}

}  // namespace
