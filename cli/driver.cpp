#include "cli/driver.h"

#include <string>

#include "cli/options.h"
#include "cli/totals.h"
#include "cli/usage.h"
#include "platform/current_directory.h"
#include "report/report_entry.h"
#include "report/table_line.h"
#include "settings/run_settings.h"
#include "walk/fold.h"
#include "walk/walk_directory.h"

int RunLumo(int argc, char** argv) {
  // The option arguments are the leading run of arguments that begin with "-".
  int remaining = argc;
  int i = 1;
  while (remaining >= 2 && argv[i][0] == '-') {
    --remaining;
    ParseOptionArgument(argv[i]);
    ++i;
  }
  if (remaining <= 1) {
    PrintUsage();
    return 0;
  }

  std::string directory;
  if (remaining > 2) {
    directory = argv[i++];
  } else if (!GetCurrentDirectoryPath(&directory)) {
    directory.assign(1, '.');  // still walkable where only a parent of it is unreadable
  }
  gSettings.pattern = argv[i];
  FoldToLower(&gSettings.pattern);
  AppendSeparator(&directory);
  ChooseFieldLabels();
  if (gSettings.table) PrintTableHeader();

  const bool listed = WalkDirectory(directory);
  if (gSettings.verbose) PrintTotals();
  return listed ? 0 : 1;
}
