// What the POSIX listing gives the rest of the POSIX layer about its current entry.
#pragma once

#include <cstdint>
#include <vector>

#include "image/pe_image.h"
#include "platform/dir_listing.h"

// The buffer a directory's records are read into: most directories fit in one call.
constexpr size_t kRecordBufferSize = 64 * 1024;

// Whether name `a` lists before `b` in a directory's listing: the order the walk goes in.
bool ListsBefore(const char* a, const char* b);

// The listings the walk holds open, one per level of depth; safe on any thread.
size_t OpenWalkListings();

// Whether the listing filter takes `name`; safe on any thread.
bool ListingWants(const char* name);

// The current entry opened for reading (kContentOpenFlags), when
// ReadEntryDetails found it to be a regular file (through a symbolic link too): the only kind
// whose contents are read. The caller owns and closes it. -1 for any other entry, or when it
// cannot be opened.
int OpenCurrentEntry(DirListing* listing);

// The version resource of the current entry when the read-ahead has already looked for it,
// swapped into `resource`. Returns false when it has not: the caller reads it then.
bool TakeFetchedVersion(DirListing* listing, std::vector<uint8_t>* resource,
                        ResourceStatus* status);

// Looks for the version resource of the file open on `fd`; safe on any thread.
ResourceStatus ReadVersionResourceOf(int fd, std::vector<uint8_t>* resource);

// The same for the file `name` in the directory open on `directoryFd`, whose first
// `headLength` bytes (all of them, where fewer than kHeadSize) are `head`: the file is opened
// only where they may begin an image. Safe on any thread.
ResourceStatus ReadVersionResourceFromHead(int directoryFd, const char* name, const uint8_t* head,
                                           size_t headLength, std::vector<uint8_t>* resource);
