// Formatted output, the same on every platform: formats, then hands the bytes to WriteOutput.
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "platform/console.h"

void WriteFormatted(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int length = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof line) {
    WriteOutput(line, static_cast<size_t>(length));
    return;
  }
  const auto big = std::make_unique<char[]>(static_cast<size_t>(length) + 1);
  va_start(args, format);
  vsnprintf(big.get(), static_cast<size_t>(length) + 1, format, args);
  va_end(args);
  WriteOutput(big.get(), static_cast<size_t>(length));
}
