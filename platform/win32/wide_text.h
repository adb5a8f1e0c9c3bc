// Text in the ANSI code page and in UTF-16, converted as the system's ANSI calls convert it.
#pragma once

#include <cstddef>
#include <string>

// The ANSI form of UTF-16 text: a character the code page cannot hold becomes its best-fit
// character or "?", as FindFirstFileA and GetCommandLineA give it.
std::string AnsiFromWide(const wchar_t* text, size_t length);

std::wstring WideFromAnsi(const std::string& text);
