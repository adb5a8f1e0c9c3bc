#include "platform/output_device.h"

#include <windows.h>

const char kLineEnd[] = "\r\n";

namespace {

HANDLE Output() {
  return GetStdHandle(STD_OUTPUT_HANDLE);
}

bool HaveOutput() {
  const HANDLE handle = Output();
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

bool WriteToDevice(const char* bytes, size_t length) {
  if (!HaveOutput()) return false;
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(Output(), bytes, static_cast<DWORD>(length), &written, nullptr) ||
        written == 0) {
      return false;
    }
    bytes += written;
    length -= written;
  }
  return true;
}

bool DeviceIsInteractive() {
  DWORD mode = 0;
  return HaveOutput() && GetConsoleMode(Output(), &mode);
}

bool DeviceIsWritable() {
  // A zero-byte write tells a missing or read-only handle from a usable one.
  DWORD none = 0;
  return HaveOutput() && WriteFile(Output(), "", 0, &none, nullptr);
}
