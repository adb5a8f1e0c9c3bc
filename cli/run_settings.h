// The run-wide settings, written while the command line is read, and the totals of the walk.
#pragma once

#include <cstdint>
#include <string>

#include "datefilter/date_range.h"

enum LabelMode { kEnglishLabels = 0, kJapaneseLabels = 1, kNoLabels = 2 };

struct RunSettings {
  int labelMode = kEnglishLabels;
  bool suppressUnversioned = false;  // N: say nothing of files without version information
  bool recurse = false;              // S: walk the whole tree
  bool verbose = false;              // V: totals line, and the date of each admitted entry
  DateRange dateRange;               // D
  std::string pattern;               // folded to lower case
  int32_t matchedCount = 0;
  uint32_t sizeSum = 0;  // wraps modulo 2^32; shown as a signed 32-bit number
};

extern RunSettings gSettings;
