// What the POSIX listing gives the rest of the POSIX layer about its current entry.
#pragma once

#include "platform/dir_listing.h"

// The current entry opened for reading (O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), when
// ReadEntryDetails found it to be a regular file (through a symbolic link too): the only kind
// whose contents are read. The caller owns and closes it. -1 for any other entry, or when it
// cannot be opened.
int OpenCurrentEntry(DirListing* listing);
