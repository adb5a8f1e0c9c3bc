// Opening a directory by a path of any length.
#pragma once

#include <string>

// open(path, flags | O_DIRECTORY) for a path that may be longer than the kernel takes in one
// call (PATH_MAX): such a path is opened one component at a time, each relative to the one
// before, from the root for a leading "/" and from the current directory otherwise. Symbolic
// links are followed and ".." is resolved as the kernel resolves them. Returns the descriptor,
// or -1 with errno set.
int OpenDirectoryPath(const std::string& path, int flags);

// The same, always one component at a time, starting from `at` (a directory descriptor or
// AT_FDCWD) for a relative path.
int OpenDirectoryPieceByPiece(int at, const std::string& path, int flags);
