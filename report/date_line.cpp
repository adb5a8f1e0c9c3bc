#include "report/date_line.h"

#include <cstdint>
#include <ctime>

#include "platform/calendar.h"
#include "platform/console.h"

namespace {

// Writes `value` as printf's "%0*d" does with `width` (0: no padding), and returns the end.
char* PutNumber(char* out, int64_t value, int width) {
  char digits[20];
  int count = 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) {
    *out++ = '-';
    --width;
  }
  for (int i = count; i < width; ++i) *out++ = '0';
  while (count > 0) *out++ = digits[--count];
  return out;
}

}  // namespace

void PrintPathAndDateLine(const std::string& path, const FileEntry& entry) {
  std::tm local{};
  // An entry without a write time shows zeros: it has no local date to show.
  if (entry.writeTime == -1 || !ToLocalCalendar(entry.writeTime, &local)) {
    local = std::tm{};
    local.tm_year = -1900;
    local.tm_mon = -1;
  }
  WriteOutput(path.data(), path.size());
  // "\t%04d/%02d/%02d %02d:%02d:%02d\t%d\n", without printf's cost on every line.
  char line[80];
  char* end = line;
  *end++ = '\t';
  end = PutNumber(end, int64_t{local.tm_year} + 1900, 4);
  *end++ = '/';
  end = PutNumber(end, int64_t{local.tm_mon} + 1, 2);
  *end++ = '/';
  end = PutNumber(end, local.tm_mday, 2);
  *end++ = ' ';
  end = PutNumber(end, local.tm_hour, 2);
  *end++ = ':';
  end = PutNumber(end, local.tm_min, 2);
  *end++ = ':';
  end = PutNumber(end, local.tm_sec, 2);
  *end++ = '\t';
  end = PutNumber(end, static_cast<int32_t>(entry.size), 0);
  *end++ = '\n';
  WriteOutput(line, static_cast<size_t>(end - line));
}
