// The platform's listing, moved to one named entry: for tests that read one entry in process.
#pragma once

#include <string>

#include "platform/dir_listing.h"

// Opens the listing of `directory` (ending in the separator) and moves it to the entry `name`,
// delivered into `entry`. Returns nullptr, with nothing left open, when there is no such entry.
DirListing* OpenListingAtEntry(const std::string& directory, const char* name, FileEntry* entry);
