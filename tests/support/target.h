// The program under test: the POSIX build, or the Win32 build run under Wine. Tests pass paths
// through TargetPath and state the output they expect as the POSIX build prints it in a UTF-8
// locale; RunLumo gives the Win32 build's output back in that form (see lumo_run.h).
#pragma once

#include <string>

bool TargetIsWin32();

// A path of this machine as the target takes it on its command line: the same path for the
// POSIX build, its drive form ("Z:\tmp\...") for the Win32 build.
std::string TargetPath(const std::string& hostPath);

// `text` as one word for the shell.
std::string ShellQuoted(const std::string& text);

// What `command`, run by the shell, writes to its standard output; `status` gets its exit
// status as pclose gives it (-1 where it could not be run).
std::string ShellOutput(const std::string& command, int* status);

// A shell command that runs the target, for tests that need the shell's redirections: the
// arguments, quoted for the shell, follow it.
std::string TargetCommand();
