// The program's entry: the platform prepares the process, the driver runs, the output is
// finished.
#include "cli/driver.h"
#include "platform/console.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  PrepareProcess(&argc, &argv);
  int status = RunLumo(argc, argv);
  if (!FinishOutput()) status = 1;
  return status;
}
