// What the POSIX listing tells the rest of the POSIX layer about its current entry.
#pragma once

#include "platform/dir_listing.h"

// The open directory descriptor of the listing, for opening its entries by name.
int ListingDescriptor(const DirListing* listing);

// Whether the current entry, as ReadEntryDetails found it (through a symbolic link), is a
// regular file: the only kind whose contents are read.
bool CurrentEntryIsRegularFile(const DirListing* listing);

// The current entry opened for reading (O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), when
// ReadEntryDetails opened it to read its status; the caller then owns and closes it.
// Otherwise -1, and the caller opens the entry by name.
int TakeEntryDescriptor(DirListing* listing);
