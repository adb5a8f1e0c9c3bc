// The platform's listing, moved to one named entry: for tests that read one entry in process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dir_listing.h"

// Opens the listing of `directory` (ending in the separator) and moves it to the entry `name`,
// delivered into `entry`. Returns nullptr, with nothing left open, when there is no such entry.
DirListing* OpenListingAtEntry(const std::string& directory, const char* name, FileEntry* entry);

// Writes `image` to a file, loads its version information through the listing as the walk
// does, and returns the value of `subBlock`: a string as the report prints it (up to its NUL,
// which must stand where the returned length says), else the bytes. "<none>" when the file
// has no version information, "<absent>" when the block has no such value.
std::string LoadedVersionValue(const std::vector<uint8_t>& image, const char* subBlock);
