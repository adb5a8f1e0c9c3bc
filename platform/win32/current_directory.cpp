#include "platform/current_directory.h"

#include <windows.h>

#include "platform/win32/typed_paths.h"
#include "platform/win32/wide_text.h"

bool GetCurrentDirectoryPath(std::string* path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    // Too small: `length` is the size needed, the NUL included.
    buffer.resize(length);
  }
  *path = AnsiFromWide(buffer.data(), buffer.size());
  RememberCurrentDirectory(*path, buffer);
  return true;
}
