// The walk's view of a directory listing: the entries it considers, in listing order.
#pragma once

#include "platform/dir_listing.h"

// Delivers the first entry of a freshly opened listing that is not passed over: the names
// beginning with "." at the head of the listing ("." and ".." among them) are. Returns false
// when there is none.
bool FindFirstEntry(DirListing* listing, FileEntry* entry);

// Delivers the next entry. Returns false at the end of the listing or on a failure.
bool FindNextEntry(DirListing* listing, FileEntry* entry);

void CloseFind(DirListing* listing);
