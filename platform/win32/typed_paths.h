// The directory the run starts at, by its real name. The core gets the command line and the
// current directory in the ANSI code page; the layer keeps their UTF-16 forms here, so that a
// name the code page cannot hold still reaches the file system whole.
#pragma once

#include <string>

// Remembers the UTF-16 form of a path the core gets as `ansi`. The current directory is
// remembered ahead of the arguments, since the core takes it only where no directory argument
// was given.
void RememberArgument(const std::string& ansi, const std::wstring& wide);
void RememberCurrentDirectory(const std::string& ansi, const std::wstring& wide);

// The UTF-16 form of a start directory: a remembered path, with the separator that the core
// may have appended; any other path converted from the code page.
std::wstring WideStartDirectory(const std::string& directory);
