#include "support/listing_entry.h"

#include <cstring>

#include "fixtures/pe_image_writer.h"
#include "platform/version_info.h"
#include "support/temp_tree.h"

DirListing* OpenListingAtEntry(const std::string& directory, const char* name, FileEntry* entry) {
  DirListing* listing = OpenListing(directory, nullptr);
  if (listing == nullptr) return nullptr;
  while (ReadListingEntry(listing, entry)) {
    if (strcmp(entry->name, name) == 0) return listing;
  }
  CloseListing(listing);
  return nullptr;
}

std::string LoadedVersionValue(const std::vector<uint8_t>& image, const char* subBlock) {
  TempTree tree;
  tree.File("a.exe", AsString(image));
  FileEntry entry;
  DirListing* listing = OpenListingAtEntry(tree.root() + "/", "a.exe", &entry);
  if (listing == nullptr) return "<no entry>";
  ReadEntryDetails(listing, &entry);
  VersionBlock* block = LoadVersionInfo(listing, tree.Path("a.exe"));
  CloseListing(listing);
  if (block == nullptr) return "<none>";
  const void* value = nullptr;
  uint32_t length = 0;
  std::string text = "<absent>";
  if (QueryVersionValue(block, subBlock, &value, &length)) {
    text.assign(static_cast<const char*>(value), length);
    if (strstr(subBlock, "StringFileInfo") != nullptr) {
      text.assign(static_cast<const char*>(value));
      if (text.size() != length) text = "<NUL at " + std::to_string(text.size()) + ">";
    }
  }
  FreeVersionInfo(block);
  return text;
}
