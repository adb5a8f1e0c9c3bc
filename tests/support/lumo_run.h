// Runs the built lumo as a user would, and captures what it prints.
#pragma once

#include <string>
#include <vector>

struct LumoRun {
  std::string tz = "UTC";    // TZ of the run
  std::string locale = "C";  // LC_ALL of the POSIX build's run
  std::string cwd;           // working directory; empty: the test's own
  int codePage = 932;        // the Win32 build's ANSI code page: 932 or 1252
  bool posixBuild = false;   // the POSIX build even where the Win32 build is under test
};

struct LumoResult {
  // Standard output in the POSIX build's form. The Win32 build's output is given back with
  // CR LF as "\n" (a bare LF shows as "<LF>\n"), Shift_JIS as UTF-8, "Z:\" as "/" and "\" as
  // "/".
  std::string out;
  std::string raw;  // standard output, byte for byte as the target wrote it
  std::string err;  // standard error (lumo never writes there)
  int status = -1;  // exit status, or -1 when it did not exit normally
};

inline LumoRun InZone(const std::string& tz) {
  LumoRun run;
  run.tz = tz;
  return run;
}

inline LumoRun InCodePage(int codePage) {
  LumoRun run;
  run.codePage = codePage;
  return run;
}

inline LumoRun PosixBuild() {
  LumoRun run;
  run.posixBuild = true;
  return run;
}

inline LumoRun InDirectory(const std::string& cwd) {
  LumoRun run;
  run.cwd = cwd;
  return run;
}

// Runs lumo with `args` (argument 0 is supplied), with no standard input. The Win32 build runs
// under Wine in the ANSI code page of `run.codePage` whatever the locale asked for.
LumoResult RunLumo(const std::vector<std::string>& args, const LumoRun& run = {});

// RunLumo with another POSIX build of lumo, `binary` (e.g. lumo_faults).
LumoResult RunProgram(const std::string& binary, const std::vector<std::string>& args,
                      const LumoRun& run = PosixBuild());

// RunLumo as `user` (e.g. "nobody") when the test runs as root; as the test's own user otherwise.
LumoResult RunLumoAs(const std::string& user, const std::vector<std::string>& args,
                     const LumoRun& run = {});
