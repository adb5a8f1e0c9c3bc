#include "platform/dir_listing.h"

#include <windows.h>

#include <cwchar>

#include "platform/win32/file_time.h"
#include "platform/win32/listing_names.h"
#include "platform/win32/system_path.h"
#include "platform/win32/typed_paths.h"
#include "platform/win32/wide_text.h"
#include "platform/write_time.h"

// Entries are listed, opened and walked by their real (UTF-16) names; the core gets each
// name in the ANSI code page, as FindFirstFileA would give it.
struct DirListing {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data;
  bool delivered = false;  // whether `data` has been handed out already
  std::wstring directory;  // the directory's real name, composed as the core composes it
  std::string name;        // the current entry's name in the ANSI code page
  DirListing* parent = nullptr;
  bool known = false;  // whether the identity below could be read
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

namespace {

// Reads the volume and file index of a directory, which tell it apart from every other.
bool ReadIdentity(DirListing* listing) {
  const HANDLE handle = CreateFileW(SystemPath(listing->directory).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

std::wstring CurrentEntryPath(const DirListing* listing) {
  return listing->directory + listing->data.cFileName;
}

DirListing* OpenListing(const std::string& directory, DirListing* parent) {
  auto* listing = new DirListing;
  listing->parent = parent;
  // A subdirectory is the parent's current entry, which the core composed as this does.
  listing->directory =
      parent != nullptr ? CurrentEntryPath(parent) + L'\\' : WideStartDirectory(directory);
  if (!ReadIdentity(listing) && parent != nullptr) {
    delete listing;
    return nullptr;
  }
  if (parent != nullptr && IsAncestor(parent, *listing)) {
    delete listing;
    return nullptr;
  }
  const std::wstring pattern = SystemPath(listing->directory + L"*.*");
  listing->find = FindFirstFileW(pattern.c_str(), &listing->data);
  if (listing->find == INVALID_HANDLE_VALUE) {
    delete listing;
    return nullptr;
  }
  return listing;
}

bool ReadListingEntry(DirListing* listing, FileEntry* entry) {
  for (;;) {
    if (listing->delivered && !FindNextFileW(listing->find, &listing->data)) return false;
    listing->delivered = true;
    // A name that filled the record would arrive cut short: it cannot be named, so it is
    // passed over.
    if (wmemchr(listing->data.cFileName, L'\0', MAX_PATH) != nullptr) break;
  }
  const WIN32_FIND_DATAW& data = listing->data;
  listing->name = AnsiFromWide(data.cFileName, wcslen(data.cFileName));
  entry->attributes = data.dwFileAttributes;
  entry->writeTime = WriteTimeOf(data.ftLastWriteTime);
  entry->size = data.nFileSizeLow;
  entry->name = listing->name.c_str();
  return true;
}

void ReadEntryDetails(DirListing*, FileEntry*) {
  // The find data held everything already.
}

void CloseListing(DirListing* listing) {
  FindClose(listing->find);
  delete listing;
}

// FindNextFileW delivers every entry, which the walk then tests itself.
void SetListingFilter(bool (*)(const char*)) {}
