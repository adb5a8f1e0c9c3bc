// The table for scripts: one tab-separated line for each reported entry, and a header.
#pragma once

#include <string>

#include "platform/dir_listing.h"
#include "platform/version_info.h"

// Appends `length` bytes of `text` as one field: a tab, CR, LF or backslash is written as "\t",
// "\r", "\n" or "\\", so the field holds no separator.
void AppendTableField(const char* text, size_t length, std::string* line);

// Writes the header line of the run's label mode; nothing without labels.
void PrintTableHeader();

// Writes the line of `entry` at `path`, with the strings of `block` in the string table that
// `stringTable` ("\StringFileInfo\xxxxxxxx\") names; with empty strings where `block` is nullptr.
void PrintTableLine(const std::string& path, const FileEntry& entry, VersionBlock* block,
                    const std::string& stringTable);
