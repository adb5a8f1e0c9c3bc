// The Win32 build reads every entry when the walk reaches it: FindNextFileW delivers one entry
// at a time, so there is nothing to look ahead at without a second listing.
#include "platform/dir_listing.h"

size_t NextEntryIndex(DirListing*) {
  return 0;
}

bool PeekListingEntry(DirListing*, size_t, FileEntry*) {
  return false;
}

bool ReadAhead(DirListing*, size_t, bool, bool) {
  return false;
}

DirListing* ListedAhead(DirListing*, size_t) {
  return nullptr;
}
