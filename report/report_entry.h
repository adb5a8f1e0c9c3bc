// The report of one selected entry: its path, date, time and size, and its version strings.
#pragma once

#include <string>

#include "platform/dir_listing.h"
#include "platform/version_info.h"

// Chooses the labels of the version strings for the run's label mode; once, before the walk.
void ChooseFieldLabels();

// Reports `entry`, the listing's current entry, at `path`: its directory as the walk reached it,
// then its name. Returns true when it has version information, whether or not anything was
// written for it.
bool ReportFile(DirListing* listing, const std::string& path, const FileEntry& entry);

// Writes the line of one version string, if the block has it. Returns whether it did.
bool PrintVersionField(const char* label, const char* subBlock, VersionBlock* block);
