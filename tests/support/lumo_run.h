// Runs the built lumo as a user would, and captures what it prints.
#pragma once

#include <string>
#include <vector>

struct LumoRun {
  std::string tz = "UTC";    // TZ of the run
  std::string locale = "C";  // LC_ALL of the run
  std::string cwd;           // working directory; empty: the test's own
};

struct LumoResult {
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error (lumo never writes there)
  int status = -1;  // exit status, or -1 when it did not exit normally
};

inline LumoRun InZone(const std::string& tz) {
  LumoRun run;
  run.tz = tz;
  return run;
}

inline LumoRun InDirectory(const std::string& cwd) {
  LumoRun run;
  run.cwd = cwd;
  return run;
}

// Runs lumo with `args` (argument 0 is supplied), with no standard input.
LumoResult RunLumo(const std::vector<std::string>& args, const LumoRun& run = {});
