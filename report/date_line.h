#pragma once

#include <string>

#include "platform/dir_listing.h"

// Writes the entry's path, its local write date and time, and its size, on one line.
void PrintPathAndDateLine(const std::string& path, const FileEntry& entry);
