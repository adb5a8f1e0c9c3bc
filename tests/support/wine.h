// The Win32 build under Wine: one prefix and one running server for the whole test run, and
// the program's output given back in the POSIX build's form.
#pragma once

#include <string>
#include <vector>

// The absolute path of the lumo.exe under test (LUMO_WIN32_EXE), or "" for the POSIX build.
const std::string& Win32Executable();

// Makes sure the prefix exists (LUMO_WINEPREFIX, else "wineprefix" beside lumo.exe) and that
// a server runs for it, so that no run pays for Wine's start-up. A server started here is
// stopped when the process exits. Aborts the test program when Wine cannot be started.
void StartWine();

// NAME=value settings that every Wine run gets: the prefix, no debug output, no installers,
// and the Japanese locale, which makes the ANSI code page 932.
std::vector<std::string> WineVariables();

// The Win32 build's output in the POSIX build's form (see LumoResult::out).
std::string PosixForm(const std::string& raw);
