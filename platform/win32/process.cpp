#include "platform/process.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/typed_paths.h"
#include "platform/win32/wide_text.h"

// The arguments reach the program as typed: the runtime does not expand wildcards in them.
extern "C" {
int _dowildcard = 0;
}

// The C runtime's own splitting of the command line, in UTF-16.
struct WideStartupInfo {
  int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expand,
                                      WideStartupInfo* info);

namespace {

// A 32-bit program on 64-bit Windows sees System32 as it is, not SysWOW64 in its place. The
// call does not exist on 32-bit Windows, where there is nothing to switch off.
void SwitchOffRedirection() {
  using Disable = BOOL(WINAPI*)(PVOID*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  const auto disable = reinterpret_cast<Disable>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
  PVOID previous = nullptr;
  if (disable != nullptr) disable(&previous);
}

// The arguments split from the UTF-16 command line as the runtime splits the ANSI one, each in
// the ANSI code page as GetCommandLineA gives it; the layer keeps their real names. Where the
// wide command line cannot be had, the runtime's ANSI arguments stay.
void ReadWideArguments(int* argc, char*** argv) {
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  WideStartupInfo info{0};
  if (__wgetmainargs(&count, &wide, &environment, 0, &info) < 0 || wide == nullptr) return;
  static std::vector<std::string> arguments;
  static std::vector<char*> pointers;
  for (int i = 0; i < count; ++i) {
    arguments.push_back(AnsiFromWide(wide[i], wcslen(wide[i])));
    if (i > 0) RememberArgument(arguments.back(), wide[i]);
  }
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  *argc = count;
  *argv = pointers.data();
}

}  // namespace

void PrepareProcess(int* argc, char*** argv) {
  // A drive without a medium is an entry that cannot be read, not a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SwitchOffRedirection();
  ReadWideArguments(argc, argv);
}
