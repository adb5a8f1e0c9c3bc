// The wildcard test of entry names.
#pragma once

#include <string_view>

// Whether `name` matches `pattern`, byte for byte: "*" matches any run of bytes, the empty one
// included, "?" exactly one byte, and every other byte itself. An empty pattern matches every
// name.
bool MatchPattern(std::string_view pattern, std::string_view name);

// Whether an entry's name, folded to lower case, matches the run's pattern.
bool MatchesPattern(const char* name);
