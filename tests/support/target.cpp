#include "support/target.h"

#include "support/wine.h"

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

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
  if (!TargetIsWin32()) return ShellQuoted(LUMO_BINARY);
  StartWine();
  std::string command = "env";
  for (const std::string& var : WineVariables()) command.append(" ").append(ShellQuoted(var));
  return command + " " + ShellQuoted(WineLoader()) + " " + ShellQuoted(Win32Executable());
}
