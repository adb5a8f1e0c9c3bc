// The process's current directory.
#pragma once

#include <string>

// Returns false when the current directory cannot be read.
bool GetCurrentDirectoryPath(std::string* path);
