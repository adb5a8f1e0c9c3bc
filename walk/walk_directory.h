// The walk over a directory, and with the recurse flag over the tree below it.
#pragma once

#include <string>

// Walks `directory`, a path that ends in the separator, reporting the entries whose names
// match the run's pattern, in pre-order. Returns false when the directory itself cannot be
// listed.
bool WalkDirectory(const std::string& directory);
