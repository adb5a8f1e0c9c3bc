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

// The local broken-down time of the entry's write time; zeros where it has none.
std::tm LocalWriteTime(const FileEntry& entry) {
  std::tm local{};
  if (entry.writeTime == -1 || !ToLocalCalendar(entry.writeTime, &local)) {
    local = std::tm{};
    local.tm_year = -1900;
    local.tm_mon = -1;
  }
  return local;
}

}  // namespace

char* PutDateAndSize(char* out, const FileEntry& entry) {
  // "%04d/%02d/%02d %02d:%02d:%02d\t%d", without printf's cost on every line.
  const std::tm local = LocalWriteTime(entry);
  out = PutNumber(out, int64_t{local.tm_year} + 1900, 4);
  *out++ = '/';
  out = PutNumber(out, int64_t{local.tm_mon} + 1, 2);
  *out++ = '/';
  out = PutNumber(out, local.tm_mday, 2);
  *out++ = ' ';
  out = PutNumber(out, local.tm_hour, 2);
  *out++ = ':';
  out = PutNumber(out, local.tm_min, 2);
  *out++ = ':';
  out = PutNumber(out, local.tm_sec, 2);
  *out++ = '\t';
  return PutNumber(out, static_cast<int32_t>(entry.size), 0);
}

char* PutMonthAndDay(char* out, const FileEntry& entry) {
  const std::tm local = LocalWriteTime(entry);
  out = PutNumber(out, int64_t{local.tm_mon} + 1, 2);
  *out++ = '/';
  return PutNumber(out, local.tm_mday, 2);
}

void PrintPathAndDateLine(const std::string& path, const FileEntry& entry) {
  WriteOutput(path.data(), path.size());
  char line[kDateAndSizeBytes + 2];
  char* end = line;
  *end++ = '\t';
  end = PutDateAndSize(end, entry);
  *end++ = '\n';
  WriteOutput(line, static_cast<size_t>(end - line));
}
