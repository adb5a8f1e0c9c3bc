#include "walk/find_entry.h"

bool FindFirstEntry(DirListing* listing, FileEntry* entry) {
  do {
    if (!ReadListingEntry(listing, entry)) return false;
  } while (entry->name[0] == '.');
  return true;
}

bool FindNextEntry(DirListing* listing, FileEntry* entry) {
  return ReadListingEntry(listing, entry);
}

void CloseFind(DirListing* listing) {
  CloseListing(listing);
}
