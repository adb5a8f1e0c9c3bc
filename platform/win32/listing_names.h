// The real name of the entry that a listing delivered last, for the version reader.
#pragma once

#include <string>

#include "platform/dir_listing.h"

// The entry's path in UTF-16: the listed directory's and the entry's real names.
std::wstring CurrentEntryPath(const DirListing* listing);
