// The option arguments and the start directory.
#pragma once

#include <string>

// Applies the option letters of `argument`, which begins with "-", to gSettings.
void ParseOptionArgument(const char* argument);

// Appends the path separator unless `path` already ends in it.
void AppendSeparator(std::string* path);
