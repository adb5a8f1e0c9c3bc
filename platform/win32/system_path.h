// Paths as the wide-character calls take them at any length.
#pragma once

#include <string>

// `path` itself where its full form is shorter than MAX_PATH, so that it means what it meant
// to the ANSI calls; otherwise its full form with the "\\?\" prefix ("\\?\UNC\" for a network
// path), which lifts the limit.
std::wstring SystemPath(const std::wstring& path);
