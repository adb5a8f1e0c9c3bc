// The output buffer, the same on every platform: a pipe or a file gets the output in large
// blocks, a terminal a line at a time.
#include "platform/console.h"

#include <cstring>

#include "platform/output_device.h"

namespace {

constexpr size_t kBlockSize = 1 << 16;

char gBuffer[kBlockSize];
size_t gUsed = 0;
bool gFailed = false;
bool gWritten = false;  // whether any bytes have reached standard output
int gInteractive = -1;  // unknown until the first write

void Drain() {
  if (gUsed > 0 && !gFailed) {
    if (WriteToDevice(gBuffer, gUsed)) {
      gWritten = true;
    } else {
      gFailed = true;
    }
  }
  gUsed = 0;
}

void Append(const char* bytes, size_t length) {
  while (length > 0 && !gFailed) {
    if (gUsed == kBlockSize) Drain();
    size_t chunk = length < kBlockSize - gUsed ? length : kBlockSize - gUsed;
    memcpy(gBuffer + gUsed, bytes, chunk);
    gUsed += chunk;
    bytes += chunk;
    length -= chunk;
  }
}

// Copies bytes into the buffer with each "\n" as the platform's line end.
void AppendText(const char* bytes, size_t length) {
  const size_t lineEndLength = strlen(kLineEnd);
  if (lineEndLength == 1) {
    Append(bytes, length);
    return;
  }
  while (length > 0) {
    const auto* newline = static_cast<const char*>(memchr(bytes, '\n', length));
    const size_t before = newline == nullptr ? length : static_cast<size_t>(newline - bytes);
    Append(bytes, before);
    if (newline == nullptr) return;
    Append(kLineEnd, lineEndLength);
    bytes += before + 1;
    length -= before + 1;
  }
}

bool Interactive() {
  if (gInteractive < 0) gInteractive = DeviceIsInteractive() ? 1 : 0;
  return gInteractive == 1;
}

}  // namespace

void WriteOutput(const char* bytes, size_t length) {
  if (gFailed) return;
  AppendText(bytes, length);
  if (Interactive() && memchr(bytes, '\n', length) != nullptr) Drain();
}

bool OutputFailed() {
  return gFailed;
}

bool FinishOutput() {
  Drain();
  // A closed or read-only standard output is a failure even when there was nothing to write.
  if (!gWritten && !gFailed && !DeviceIsWritable()) gFailed = true;
  return !gFailed;
}
