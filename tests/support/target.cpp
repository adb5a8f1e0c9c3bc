#include "support/target.h"

#include <cstdio>

#include "support/wine.h"

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ShellOutput(const std::string& command, int* status) {
  std::string out;
  *status = -1;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, got);
  *status = pclose(pipe);
  return out;
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
