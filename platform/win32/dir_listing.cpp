#include "platform/dir_listing.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/file_time.h"
#include "platform/write_time.h"

struct DirListing {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data;
  bool delivered = false;  // whether `data` has been handed out already
  DirListing* parent = nullptr;
  bool known = false;  // whether the identity below could be read
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

namespace {

// Reads the volume and file index of a directory, which tell it apart from every other.
bool ReadIdentity(const std::string& directory, DirListing* listing) {
  const HANDLE handle =
      CreateFileA(directory.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool read = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  if (!read) return false;
  listing->known = true;
  listing->volume = info.dwVolumeSerialNumber;
  listing->indexHigh = info.nFileIndexHigh;
  listing->indexLow = info.nFileIndexLow;
  return true;
}

bool IsAncestor(const DirListing* ancestor, const DirListing& directory) {
  for (; ancestor != nullptr; ancestor = ancestor->parent) {
    if (ancestor->known && ancestor->volume == directory.volume &&
        ancestor->indexHigh == directory.indexHigh && ancestor->indexLow == directory.indexLow) {
      return true;
    }
  }
  return false;
}

// The write time of an entry, -1 when it has none.
int32_t WriteTimeOf(const FILETIME& time) {
  if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0) return -1;
  return WriteTimeFromInstant(FileTimeToSeconds(time));
}

}  // namespace

DirListing* OpenListing(const std::string& directory, DirListing* parent) {
  // The ANSI calls take no longer path; one cut short would list another directory.
  const std::string pattern = directory + "*.*";
  if (pattern.size() >= MAX_PATH) return nullptr;
  auto* listing = new DirListing;
  listing->parent = parent;
  if (!ReadIdentity(directory, listing) && parent != nullptr) {
    delete listing;
    return nullptr;
  }
  if (parent != nullptr && IsAncestor(parent, *listing)) {
    delete listing;
    return nullptr;
  }
  listing->find = FindFirstFileA(pattern.c_str(), &listing->data);
  if (listing->find == INVALID_HANDLE_VALUE) {
    delete listing;
    return nullptr;
  }
  return listing;
}

bool ReadListingEntry(DirListing* listing, FileEntry* entry) {
  for (;;) {
    if (listing->delivered && !FindNextFileA(listing->find, &listing->data)) return false;
    listing->delivered = true;
    // A name too long for the buffer would arrive cut short: it cannot be named, so it is
    // passed over.
    if (memchr(listing->data.cFileName, '\0', sizeof listing->data.cFileName) != nullptr) break;
  }
  const WIN32_FIND_DATAA& data = listing->data;
  entry->attributes = data.dwFileAttributes;
  entry->writeTime = WriteTimeOf(data.ftLastWriteTime);
  entry->size = data.nFileSizeLow;
  entry->name = data.cFileName;
  return true;
}

void ReadEntryDetails(DirListing*, FileEntry*) {
  // The find data held everything already.
}

void CloseListing(DirListing* listing) {
  FindClose(listing->find);
  delete listing;
}
