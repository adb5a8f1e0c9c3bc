#include "platform/win32/wide_text.h"

#include <windows.h>

std::string AnsiFromWide(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  const int units = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, text, units, ansi.data(), size, nullptr, nullptr);
  return ansi;
}

std::wstring WideFromAnsi(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int bytes = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
  std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, wide.data(), size);
  return wide;
}
