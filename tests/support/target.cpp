#include "support/target.h"

#include "support/wine.h"

namespace {

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

bool TargetIsWin32() {
  return !Win32Executable().empty();
}

std::string TargetPath(const std::string& hostPath) {
  if (!TargetIsWin32()) return hostPath;
  std::string path = hostPath.starts_with("/") ? "Z:" + hostPath : hostPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string TargetCommand() {
  if (!TargetIsWin32()) return Quoted(LUMO_BINARY);
  StartWine();
  std::string command = "env";
  for (const std::string& var : WineVariables()) command += " " + Quoted(var);
  return command + " wine " + Quoted(Win32Executable());
}
