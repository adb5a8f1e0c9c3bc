// What the POSIX listing gives the rest of the POSIX layer about its current entry.
#pragma once

#include <sys/stat.h>

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

// Read-ahead gives back everything it holds, and stops for the rest of the run: the walk is out
// of descriptors or memory, or its output has failed. Returns whether it held anything. Walk's
// thread only.
bool StopReadAhead();

// The current entry's descriptor, opened by ReadEntryDetails when it found the entry to be a
// regular file (through a symbolic link too): the only kind whose contents are read, and read
// from the same open as its status, whose KnownLength goes to `length`. The caller owns and
// closes it. -1 for any other entry, or when it could not be opened.
int OpenCurrentEntry(DirListing* listing, uint64_t* length);

// The length of the regular file open on `fd`, whose status is `status`, where its file system
// keeps sizes that are lengths (ext4, tmpfs, XFS, Btrfs); UINT64_MAX elsewhere, where a network
// or FUSE file system may say 0 of a file it has not fetched. Safe on any thread.
uint64_t KnownLength(int fd, const struct stat& status);

// The version resource of the current entry, swapped into `resource`, when its record came from
// the read-ahead. Returns false when it did not: the caller reads it then.
bool TakeFetchedVersion(DirListing* listing, std::vector<uint8_t>* resource,
                        ResourceStatus* status);

// Looks for the version resource of the file open on `fd`, whose KnownLength is `length`; safe
// on any thread. Where a read fails, what was found may be short of what the file holds, and
// `whole` (if given) is cleared.
ResourceStatus ReadVersionResourceOf(int fd, uint64_t length, std::vector<uint8_t>* resource,
                                     bool* whole);

// The same for a file whose first `headLength` bytes (all of them, where fewer than kHeadSize)
// are `head`: the rest is read only where they may begin an image.
ResourceStatus ReadVersionResourceFromHead(int fd, uint64_t length, const uint8_t* head,
                                           size_t headLength, std::vector<uint8_t>* resource,
                                           bool* whole);
