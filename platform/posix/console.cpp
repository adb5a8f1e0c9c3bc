#include "platform/console.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace {

// A pipe or a file gets the output in blocks of this size; a terminal a line at a time.
constexpr size_t kBlockSize = 1 << 16;

char gBuffer[kBlockSize];
size_t gUsed = 0;
bool gFailed = false;
int gInteractive = -1;  // unknown until the first write

bool WriteAll(const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t written = write(STDOUT_FILENO, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

void Drain() {
  if (gUsed > 0 && !gFailed && !WriteAll(gBuffer, gUsed)) gFailed = true;
  gUsed = 0;
}

bool Interactive() {
  if (gInteractive < 0) gInteractive = isatty(STDOUT_FILENO) ? 1 : 0;
  return gInteractive == 1;
}

}  // namespace

void WriteOutput(const char* bytes, size_t length) {
  if (gFailed) return;
  if (length > kBlockSize - gUsed) {
    Drain();
    if (length >= kBlockSize) {
      if (!WriteAll(bytes, length)) gFailed = true;
      return;
    }
  }
  memcpy(gBuffer + gUsed, bytes, length);
  gUsed += length;
  if (Interactive() && memchr(bytes, '\n', length) != nullptr) Drain();
}

bool OutputFailed() {
  return gFailed;
}

bool FinishOutput() {
  Drain();
  // A closed standard output is a failure even when there was nothing to write.
  const int flags = fcntl(STDOUT_FILENO, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) gFailed = true;
  return !gFailed;
}
