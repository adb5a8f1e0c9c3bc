// The run-wide settings: written once while the command line is read, only read afterwards.
// They sit below every layer, so that the layers that read them never reach up into the driver.
#pragma once

#include <string>

#include "settings/date_range.h"

enum LabelMode { kEnglishLabels = 0, kJapaneseLabels = 1, kNoLabels = 2 };

struct RunSettings {
  LabelMode labelMode = kEnglishLabels;
  bool suppressUnversioned = false;  // N: say nothing of files without version information
  bool recurse = false;              // S: walk the whole tree
  bool verbose = false;              // V: totals line, and the date of each admitted entry
  bool table = false;                // T: one tab-separated line per entry, for scripts
  DateRange dateRange;               // D
  std::string pattern;               // folded to lower case
};

extern RunSettings gSettings;
