// Version information: the version resource of a file and the queries over it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dir_listing.h"

// The version information block of one file. Opaque; at most one is loaded at a time.
struct VersionBlock;

// Loads the version information of the listing's current entry, whose full path is `path`,
// once ReadEntryDetails has completed it. Returns nullptr when the file has none or it cannot
// be read.
VersionBlock* LoadVersionInfo(DirListing* listing, const std::string& path);

// Looks up a sub-block path such as "\VarFileInfo\Translation" or
// "\StringFileInfo\040904b0\CompanyName". On success `value` points into the block: the raw
// bytes of a binary value, or a NUL-terminated string in the output's charset, of `length`
// bytes (the NUL not counted). The value stays valid until the block is freed or queried again.
bool QueryVersionValue(VersionBlock* block, const char* subBlock, const void** value,
                       uint32_t* length);

void FreeVersionInfo(VersionBlock* block);
