#include "platform/win32/typed_paths.h"

#include <utility>
#include <vector>

#include "platform/path_separator.h"
#include "platform/win32/wide_text.h"

namespace {

using TypedPath = std::pair<std::string, std::wstring>;

// In command-line order: the directory argument comes before the pattern, so where both have
// the same ANSI form the first is the directory's.
std::vector<TypedPath>& Arguments() {
  static std::vector<TypedPath> arguments;
  return arguments;
}

TypedPath& CurrentDirectory() {
  static TypedPath current;
  return current;
}

// Whether `directory` is the remembered path, maybe with the separator the core appended.
bool IsTypedForm(const TypedPath& typed, const std::string& directory) {
  const std::string& ansi = typed.first;
  if (directory == ansi) return true;
  return directory.size() == ansi.size() + 1 && directory.compare(0, ansi.size(), ansi) == 0 &&
         directory.back() == kPathSeparator;
}

std::wstring WideOf(const TypedPath& typed, const std::string& directory) {
  return directory.size() > typed.first.size() ? typed.second + L'\\' : typed.second;
}

}  // namespace

void RememberArgument(const std::string& ansi, const std::wstring& wide) {
  Arguments().emplace_back(ansi, wide);
}

void RememberCurrentDirectory(const std::string& ansi, const std::wstring& wide) {
  CurrentDirectory() = {ansi, wide};
}

std::wstring WideStartDirectory(const std::string& directory) {
  if (!CurrentDirectory().second.empty() && IsTypedForm(CurrentDirectory(), directory)) {
    return WideOf(CurrentDirectory(), directory);
  }
  for (const TypedPath& typed : Arguments()) {
    if (IsTypedForm(typed, directory)) return WideOf(typed, directory);
  }
  return WideFromAnsi(directory);
}
