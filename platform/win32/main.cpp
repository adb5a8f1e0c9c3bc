// The program's start-up on Windows: prepares the process, then runs the driver.
#include <windows.h>

#include "cli/driver.h"
#include "platform/console.h"

// The arguments reach the program as typed: the runtime does not expand wildcards in them.
extern "C" {
int _dowildcard = 0;
}

int main(int argc, char** argv) {
  // A drive without a medium is an entry that cannot be read, not a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  int status = RunLumo(argc, argv);
  if (!FinishOutput()) status = 1;
  return status;
}
