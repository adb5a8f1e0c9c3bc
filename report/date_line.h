#pragma once

#include <string>

#include "platform/dir_listing.h"

// The most bytes that PutDateAndSize writes.
constexpr int kDateAndSizeBytes = 128;

// Writes the entry's local write date and time, a tab and its size at `out`, and returns the
// end. An entry without a write time shows zeros.
char* PutDateAndSize(char* out, const FileEntry& entry);

// Writes the month and day of the entry's local write time ("MM/DD") and returns the end.
char* PutMonthAndDay(char* out, const FileEntry& entry);

// Writes the entry's path, its local write date and time, and its size, on one line.
void PrintPathAndDateLine(const std::string& path, const FileEntry& entry);
