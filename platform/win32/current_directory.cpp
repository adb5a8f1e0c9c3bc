#include "platform/current_directory.h"

#include <windows.h>

bool GetCurrentDirectoryPath(std::string* path) {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      *path = buffer;
      return true;
    }
    // Too small: `length` is the size needed, the NUL included.
    buffer.resize(length);
  }
}
