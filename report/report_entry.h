// The report of one selected entry: its path, date, time and size, and its version strings.
#pragma once

#include <string>

#include "platform/dir_listing.h"
#include "platform/version_info.h"

// Reports the entry at `path`: its directory as the walk reached it, then its name. Returns true
// when it has version information, whether or not anything was written for it.
bool ReportFile(const std::string& path, const FileEntry& entry);

// Writes the line of one version string, if the block has it. Returns whether it did.
bool PrintVersionField(const char* label, const char* subBlock, VersionBlock* block);
