#include "platform/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/calendar.h"
#include "platform/posix/posix_listing.h"

struct DirListing {
  DIR* stream = nullptr;
  DirListing* parent = nullptr;
  dev_t device = 0;
  ino_t inode = 0;
  std::vector<char> names;  // every name, NUL-terminated, back to back
  struct Item {
    uint32_t nameOffset;
    unsigned char type;  // DT_*
  };
  std::vector<Item> items;  // in listing order
  size_t next = 0;
  // The current entry, and its status where it is known.
  const Item* current = nullptr;
  bool haveStatus = false;
  struct stat status;
};

namespace {

// Names compare byte by byte with 'a'-'z' taken as 'A'-'Z', ties broken by the bytes
// themselves: the order in which NTFS lists names.
unsigned char FoldUpper(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 0x20) : byte;
}

bool ListsBefore(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  size_t i = 0;
  while (x[i] != 0 && FoldUpper(x[i]) == FoldUpper(y[i])) ++i;
  if (FoldUpper(x[i]) != FoldUpper(y[i])) return FoldUpper(x[i]) < FoldUpper(y[i]);
  for (i = 0; x[i] != 0 && x[i] == y[i]; ++i) {
  }
  return x[i] < y[i];
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// "." and ".." head the listing, whatever the order of the rest.
int HeadRank(const char* name) {
  if (!IsDotOrDotDot(name)) return 2;
  return name[1] == 0 ? 0 : 1;
}

bool ReadAllNames(DirListing* listing) {
  while (dirent* found = readdir(listing->stream)) {
    const size_t length = strlen(found->d_name);
    if (listing->names.size() + length + 1 > UINT32_MAX) return false;
    listing->items.push_back({static_cast<uint32_t>(listing->names.size()), found->d_type});
    listing->names.insert(listing->names.end(), found->d_name, found->d_name + length + 1);
  }
  const char* base = listing->names.data();
  std::sort(listing->items.begin(), listing->items.end(),
            [base](const DirListing::Item& a, const DirListing::Item& b) {
              const char* x = base + a.nameOffset;
              const char* y = base + b.nameOffset;
              const int rankX = HeadRank(x);
              const int rankY = HeadRank(y);
              if (rankX != rankY) return rankX < rankY;
              return ListsBefore(x, y);
            });
  return true;
}

bool IsAncestor(const DirListing* listing, dev_t device, ino_t inode) {
  for (; listing != nullptr; listing = listing->parent) {
    if (listing->device == device && listing->inode == inode) return true;
  }
  return false;
}

const char* CurrentName(const DirListing* listing) {
  return listing->names.data() + listing->current->nameOffset;
}

// The write time of an entry: its instant, or -1 when it lies outside the 32-bit count or
// outside the local calendar years 1970 to 2038.
int32_t WriteTimeOf(const struct stat& status) {
  const int64_t seconds = status.st_mtim.tv_sec;
  if (seconds < INT32_MIN || seconds > INT32_MAX) return -1;
  // Only an instant within a day of the epoch can fall in another local year than 1970-2038.
  if (seconds < 2 * 86400) {
    std::tm local;
    if (!ToLocalCalendar(seconds, &local) || local.tm_year < 70) return -1;
  }
  return static_cast<int32_t>(seconds);
}

}  // namespace

DirListing* OpenListing(const std::string& directory, DirListing* parent) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
  const int fd = parent == nullptr
                     ? open(directory.c_str(), flags)
                     : openat(dirfd(parent->stream), CurrentName(parent), flags | O_NOFOLLOW);
  if (fd < 0) return nullptr;
  struct stat status;
  if (fstat(fd, &status) != 0 || IsAncestor(parent, status.st_dev, status.st_ino)) {
    close(fd);
    return nullptr;
  }
  DIR* stream = fdopendir(fd);
  if (stream == nullptr) {
    close(fd);
    return nullptr;
  }
  auto* listing = new DirListing;
  listing->stream = stream;
  listing->parent = parent;
  listing->device = status.st_dev;
  listing->inode = status.st_ino;
  if (!ReadAllNames(listing)) {
    CloseListing(listing);
    return nullptr;
  }
  return listing;
}

bool ReadListingEntry(DirListing* listing, FileEntry* entry) {
  if (listing->next >= listing->items.size()) return false;
  listing->current = &listing->items[listing->next++];
  listing->haveStatus = false;
  unsigned char type = listing->current->type;
  if (type == DT_UNKNOWN) {
    if (fstatat(dirfd(listing->stream), CurrentName(listing), &listing->status,
                AT_SYMLINK_NOFOLLOW) == 0) {
      // The status of anything but a link is also what ReadEntryDetails needs.
      listing->haveStatus = !S_ISLNK(listing->status.st_mode);
      type = S_ISDIR(listing->status.st_mode) ? DT_DIR : DT_REG;
    }
  }
  entry->attributes = type == DT_DIR ? kDirectoryAttribute : 0;
  entry->writeTime = -1;
  entry->size = 0;
  entry->name = CurrentName(listing);
  entry->listing = listing;
  return true;
}

void ReadEntryDetails(DirListing* listing, FileEntry* entry) {
  const int fd = dirfd(listing->stream);
  const char* name = CurrentName(listing);
  if (!listing->haveStatus) {
    // A link is shown as its target; one whose target cannot be reached, as itself.
    listing->haveStatus = fstatat(fd, name, &listing->status, 0) == 0 ||
                          fstatat(fd, name, &listing->status, AT_SYMLINK_NOFOLLOW) == 0;
  }
  if (!listing->haveStatus) return;
  entry->writeTime = WriteTimeOf(listing->status);
  entry->size =
      S_ISDIR(listing->status.st_mode) ? 0 : static_cast<uint32_t>(listing->status.st_size);
}

void CloseListing(DirListing* listing) {
  closedir(listing->stream);
  delete listing;
}

int ListingDescriptor(const DirListing* listing) {
  return dirfd(listing->stream);
}

bool CurrentEntryIsRegularFile(const DirListing* listing) {
  return listing->haveStatus && S_ISREG(listing->status.st_mode);
}
