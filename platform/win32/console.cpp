#include "platform/console.h"

#include <windows.h>

#include <cstring>

namespace {

// A pipe or a file gets the output in blocks of this size; a console a line at a time.
constexpr size_t kBlockSize = 1 << 16;

char gBuffer[kBlockSize];
size_t gUsed = 0;
bool gFailed = false;
bool gWritten = false;  // whether any bytes have reached the handle
int gInteractive = -1;  // unknown until the first write

HANDLE Output() {
  return GetStdHandle(STD_OUTPUT_HANDLE);
}

bool HaveOutput() {
  const HANDLE handle = Output();
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool WriteAll(const char* bytes, size_t length) {
  if (!HaveOutput()) return false;
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(Output(), bytes, static_cast<DWORD>(length), &written, nullptr) ||
        written == 0) {
      return false;
    }
    bytes += written;
    length -= written;
    gWritten = true;
  }
  return true;
}

void Drain() {
  if (gUsed > 0 && !gFailed && !WriteAll(gBuffer, gUsed)) gFailed = true;
  gUsed = 0;
}

bool Interactive() {
  if (gInteractive < 0) {
    DWORD mode = 0;
    gInteractive = HaveOutput() && GetConsoleMode(Output(), &mode) ? 1 : 0;
  }
  return gInteractive == 1;
}

// Copies bytes into the buffer, each "\n" as "\r\n", draining it as it fills.
void Append(const char* bytes, size_t length) {
  for (size_t i = 0; i < length && !gFailed; ++i) {
    if (gUsed + 2 > kBlockSize) Drain();
    if (bytes[i] == '\n') gBuffer[gUsed++] = '\r';
    gBuffer[gUsed++] = bytes[i];
  }
}

}  // namespace

void WriteOutput(const char* bytes, size_t length) {
  if (gFailed) return;
  Append(bytes, length);
  if (Interactive() && memchr(bytes, '\n', length) != nullptr) Drain();
}

bool OutputFailed() {
  return gFailed;
}

bool FinishOutput() {
  Drain();
  // With nothing written, a missing or read-only standard output is still a failure.
  DWORD none = 0;
  if (!gWritten && !gFailed && (!HaveOutput() || !WriteFile(Output(), "", 0, &none, nullptr))) {
    gFailed = true;
  }
  return !gFailed;
}
