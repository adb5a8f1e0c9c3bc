#include "platform/process.h"

#include <windows.h>

// The arguments reach the program as typed: the runtime does not expand wildcards in them.
extern "C" {
int _dowildcard = 0;
}

void PrepareProcess(int*, char***) {
  // A drive without a medium is an entry that cannot be read, not a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}
