// Directory listing: the entries of one directory, in the platform's order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The attribute bit that marks a directory the walk may descend into.
constexpr uint32_t kDirectoryAttribute = 0x10;

// One directory being listed. Opaque; the walk holds one per level of depth.
struct DirListing;

// One directory entry as the listing delivers it.
struct FileEntry {
  uint32_t attributes = 0;  // kDirectoryAttribute for a real directory
  int32_t writeTime = -1;   // seconds since 1970-01-01 UTC; -1 when there is none
  uint32_t size = 0;        // the low 32 bits of the size
  const char* name = "";    // NUL-terminated; valid until the listing moves on or closes
};

// Opens the listing of `directory`, a path that ends in the separator. With a parent, the
// directory is the parent's current entry, and the listing refuses it (returns nullptr) when
// it is the parent or one of the parent's ancestors, so a tree that loops back is walked once
// per branch. Returns nullptr when the directory cannot be listed.
DirListing* OpenListing(const std::string& directory, DirListing* parent);

// Delivers the next entry's name and attributes. What ReadEntryDetails adds may be left
// unset until it is asked for. Returns false at the end of the listing or on any failure.
bool ReadListingEntry(DirListing* listing, FileEntry* entry);

// Completes the entry that ReadListingEntry delivered last: its write time and size, of the
// link's target for a symbolic link that can be followed.
void ReadEntryDetails(DirListing* listing, FileEntry* entry);

void CloseListing(DirListing* listing);

// The names the walk does something with, besides directories' (nullptr: every name). A listing
// opened after this is set may leave out the other entries, but for the first, after "." and
// "..", whose name does not begin with ".": FindFirstEntry passes over the names before it.
// Read-ahead that goes further than the walk has named touches only directories and these.
void SetListingFilter(bool (*wanted)(const char* name));

// Read-ahead. The walk may name entries that come after the current one and that it will
// need, and the platform may fetch them meanwhile, many at once, on other threads: their
// details and version information, or the listing of a directory. What is handed out is the
// same, fetched ahead or not; an entry that was not named, or whose fetching failed, is read
// when it is reached. Entries are counted from 0, the first that ReadListingEntry delivers.

// The number of the entry that ReadListingEntry delivers next.
size_t NextEntryIndex(DirListing* listing);

// Delivers entry `index`: its name, and the directory bit where the listing already knows the
// type. Returns false past the end, or where the platform cannot look ahead.
bool PeekListingEntry(DirListing* listing, size_t index, FileEntry* entry);

// Names entry `index`: `details` when ReadEntryDetails and LoadVersionInfo will be asked for
// it, `descend` when OpenListing will be. Returns false when the read-ahead window is full
// (name it again once the walk has moved on) or the platform does not read ahead.
bool ReadAhead(DirListing* listing, size_t index, bool details, bool descend);

// The listing of directory `index`, named with `descend`, once it has been read ahead: the
// same that OpenListing will return for it, to be looked at but neither read nor closed.
// nullptr until then, or when it cannot be listed ahead.
DirListing* ListedAhead(DirListing* listing, size_t index);
