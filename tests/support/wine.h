// The Win32 build under Wine: one prefix and one running server for the whole test run, and
// the program's output given back in the POSIX build's form.
#pragma once

#include <string>
#include <vector>

// The absolute path of the lumo.exe under test (LUMO_WIN32_EXE), or "" for the POSIX build.
const std::string& Win32Executable();

// The Wine loader that runs it: 64-bit Wine's own for a 64-bit lumo.exe, which then needs no
// 32-bit Linux program (none runs where the kernel takes no 32-bit programs), else "wine".
const std::string& WineLoader();

// Makes sure the prefix exists (LUMO_WINEPREFIX, else "wineprefix" beside lumo.exe) and that
// a server runs for it, so that no run pays for Wine's start-up. A server started here is
// stopped when the process exits. Aborts the test program when Wine cannot be started.
void StartWine();

// The host directory of the Wine prefix, a 64-bit one, in which the 32-bit program runs as on
// 64-bit Windows.
std::string WinePrefix();

// NAME=value settings that every Wine run gets: the prefix, no debug output, no installers,
// and a locale that makes the ANSI code page `codePage`: 932 (Japanese) or 1252 (Western).
std::vector<std::string> WineVariables(int codePage = 932);

// The Win32 build's output, in code page `codePage`, in the POSIX build's form (see
// LumoResult::out).
std::string PosixForm(const std::string& raw, int codePage = 932);
