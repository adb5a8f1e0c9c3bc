// The table for scripts: one tab-separated line for each reported entry, and a header.
#pragma once

#include <string>

#include "platform/dir_listing.h"

// Appends `length` bytes of `text` as one field: a tab, CR, LF or backslash is written as "\t",
// "\r", "\n" or "\\", so the field holds no separator.
void AppendTableField(const char* text, size_t length, std::string* line);

// Writes the header line of the run's label mode; nothing without labels.
void PrintTableHeader();

// The line of `entry` at `path`: started with its path, date and size, given its strings one
// after the other in table order (nullptr where the entry lacks one), and written at its end,
// with the strings not given empty.
void StartTableLine(const std::string& path, const FileEntry& entry);
void AddTableField(const char* value);
void EndTableLine();
