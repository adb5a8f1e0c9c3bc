#include "support/listing_entry.h"

#include <cstring>

DirListing* OpenListingAtEntry(const std::string& directory, const char* name, FileEntry* entry) {
  DirListing* listing = OpenListing(directory, nullptr);
  if (listing == nullptr) return nullptr;
  while (ReadListingEntry(listing, entry)) {
    if (strcmp(entry->name, name) == 0) return listing;
  }
  CloseListing(listing);
  return nullptr;
}
