#include "report/date_line.h"

#include <ctime>

#include "platform/calendar.h"
#include "platform/console.h"

void PrintPathAndDateLine(const std::string& path, const FileEntry& entry) {
  std::tm local{};
  // An entry without a write time shows zeros: it has no local date to show.
  if (entry.writeTime == -1 || !ToLocalCalendar(entry.writeTime, &local)) {
    local = std::tm{};
    local.tm_year = -1900;
    local.tm_mon = -1;
  }
  WriteOutput(path.data(), path.size());
  WriteFormatted("\t%04d/%02d/%02d %02d:%02d:%02d\t%d\n", local.tm_year + 1900, local.tm_mon + 1,
                 local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                 static_cast<int32_t>(entry.size));
}
