#include "platform/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <deque>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/posix/fetch_queue.h"
#include "platform/posix/head_reader.h"
#include "platform/posix/open_directory_path.h"
#include "platform/posix/posix_listing.h"
#include "platform/posix/tree_scout.h"
#include "platform/write_time.h"

struct DirListing {
  int fd = -1;
  DirListing* parent = nullptr;
  dev_t device = 0;
  ino_t inode = 0;
  std::vector<char> names;  // every name, NUL-terminated, back to back
  struct Item {
    uint64_t key;  // the name's first eight bytes folded, for a quick comparison
    uint32_t nameOffset;
    unsigned char type;  // DT_*
  };
  std::vector<Item> items;  // in listing order
  size_t leftOut = 0;       // entries the listing filter refused
  size_t next = 0;
  // The current entry, and its status where it is known.
  const Item* current = nullptr;
  bool haveStatus = false;
  struct stat status;
  int entryFd = -1;  // the current entry, opened by ReadEntryDetails, until taken
  // Read-ahead out for entries from the current one on, in listing order.
  struct Fetch {
    size_t item;
    FetchRequest* request;
    bool served;  // awaited, or seen to be done
  };
  std::deque<Fetch> fetches;
};

namespace {

constexpr int kEntryOpenFlags = kContentOpenFlags | O_NOFOLLOW;
constexpr int kDirectoryOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
// Read-ahead leaves this many descriptors below the limit for the workers' open files, those
// left to close while the walk waits, and the walk's own; and lists at most so many
// directories ahead.
constexpr rlim_t kReadAheadDescriptorMargin = 192;
constexpr size_t kMaxListingsAhead = 64;

// Closed listings, kept so that their buffers serve the next directories.
std::vector<std::unique_ptr<DirListing>> gSpareListings;
// Listings open on the walk's thread (counted on it alone, and read by the scout too), and
// those listed ahead and not yet taken.
std::atomic<size_t> gOpenListings{0};
size_t gListingsAhead = 0;

std::atomic<bool (*)(const char*)> gListingFilter{nullptr};

void CountOpenListings(int change) {
  gOpenListings.store(gOpenListings.load(std::memory_order_relaxed) + change,
                      std::memory_order_relaxed);
}

// Names compare byte by byte with 'a'-'z' taken as 'A'-'Z', ties broken by the bytes
// themselves: the order in which NTFS lists names.
unsigned char FoldUpper(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 0x20) : byte;
}

}  // namespace

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

namespace {

// The first eight bytes of a name folded as ListsBefore folds them, padded with zeros, as a
// number: two keys that differ order their names as ListsBefore does.
uint64_t FoldedPrefix(const char* name) {
  uint64_t key = 0;
  bool ended = false;
  for (int i = 0; i < 8; ++i) {
    ended = ended || name[i] == 0;
    key = (key << 8) | (ended ? 0 : FoldUpper(static_cast<unsigned char>(name[i])));
  }
  return key;
}

bool NameListsBefore(uint64_t aKey, const char* a, uint64_t bKey, const char* b) {
  if (aKey != bKey) return aKey < bKey;
  return ListsBefore(a, b);
}

bool ItemListsBefore(const char* base, const DirListing::Item& a, const DirListing::Item& b) {
  return NameListsBefore(a.key, base + a.nameOffset, b.key, base + b.nameOffset);
}

// Whether the file system of the directory open on `fd` is ext4, tmpfs, XFS or Btrfs. These fill
// each getdents64 buffer as far as the directory's entries go: then a call that leaves room for
// the longest record has read the last of them, and the call that would return nothing is
// spared. And a regular file's size there is its length, where a network or FUSE file system
// may say 0 of a file it has not fetched. Kept for the last device asked about.
bool IsKnownLocalFileSystem(int fd, dev_t device) {
  thread_local bool known = false;
  thread_local dev_t knownDevice = 0;
  thread_local bool local = false;
  if (!known || device != knownDevice) {
    struct statfs system;
    local = fstatfs(fd, &system) == 0 &&
            (system.f_type == EXT4_SUPER_MAGIC || system.f_type == TMPFS_MAGIC ||
             system.f_type == XFS_SUPER_MAGIC || system.f_type == BTRFS_SUPER_MAGIC);
    known = true;
    knownDevice = device;
  }
  return local;
}

// Reads every name of the directory, then sorts them: "." and ".." first, the rest by
// ListsBefore. A failed read ends the listing where it stands, as readdir's end does. Of the
// entries other than directories that the listing filter refuses, only the one that lists
// first among those whose names do not begin with "." is kept.
bool ReadAllNames(DirListing* listing) {
  alignas(dirent64) thread_local char records[kRecordBufferSize];
  std::vector<char>& names = listing->names;
  DirListing::Item dots[2];
  int dotCount = 0;
  bool (*const wanted)(const char*) = gListingFilter.load(std::memory_order_relaxed);
  DirListing::Item firstRefused{};
  bool refused = false;
  const bool fills = IsKnownLocalFileSystem(listing->fd, listing->device);
  constexpr ssize_t kRoomForAnother = kRecordBufferSize - sizeof(dirent64);
  for (ssize_t got = kRecordBufferSize; !fills || got > kRoomForAnother;) {
    got = getdents64(listing->fd, records, sizeof records);
    if (got <= 0) break;
    for (size_t at = 0; at < static_cast<size_t>(got);) {
      const auto* record = reinterpret_cast<const dirent64*>(records + at);
      at += record->d_reclen;
      if (record->d_ino == 0) continue;  // deleted; readdir passes over these too
      const char* name = record->d_name;
      const unsigned char type = record->d_type;
      const uint64_t key = FoldedPrefix(name);
      const bool kept = wanted == nullptr || type == DT_DIR || type == DT_UNKNOWN || wanted(name);
      if (!kept) {
        ++listing->leftOut;
        if (name[0] == '.' ||
            (refused && !NameListsBefore(key, name, firstRefused.key,
                                         names.data() + firstRefused.nameOffset))) {
          continue;
        }
      }
      const size_t length = strlen(name);
      if (names.size() + length + 1 > UINT32_MAX) return false;
      const DirListing::Item item{key, static_cast<uint32_t>(names.size()), type};
      names.insert(names.end(), name, name + length + 1);
      const bool dot = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
      if (!kept) {
        firstRefused = item;
        refused = true;
      } else if (dot && dotCount < 2) {
        dots[dotCount++] = item;
      } else {
        listing->items.push_back(item);
      }
    }
  }
  if (refused) {
    listing->items.push_back(firstRefused);
    --listing->leftOut;
  }
  const char* base = names.data();
  std::sort(listing->items.begin(), listing->items.end(),
            [base](const DirListing::Item& a, const DirListing::Item& b) {
              return ItemListsBefore(base, a, b);
            });
  // "." heads the listing, then "..".
  if (dotCount == 2 && base[dots[0].nameOffset + 1] != 0) std::swap(dots[0], dots[1]);
  listing->items.insert(listing->items.begin(), dots, dots + dotCount);
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

void CloseEntryDescriptor(DirListing* listing) {
  if (listing->entryFd >= 0) close(listing->entryFd);
  listing->entryFd = -1;
}

DirListing* TakeSpareListing() {
  DirListing* listing;
  if (gSpareListings.empty()) {
    listing = new DirListing;
  } else {
    listing = gSpareListings.back().release();
    gSpareListings.pop_back();
  }
  listing->fd = -1;
  listing->parent = nullptr;
  listing->names.clear();
  listing->items.clear();
  listing->leftOut = 0;
  listing->next = 0;
  listing->current = nullptr;
  listing->haveStatus = false;
  listing->entryFd = -1;
  return listing;
}

bool ReadAheadAllowed(bool listing) {
  static rlim_t limit = 0;
  if (limit == 0) {
    struct rlimit current;
    limit = getrlimit(RLIMIT_NOFILE, &current) == 0 ? current.rlim_cur : 1;
  }
  if (listing && gListingsAhead >= kMaxListingsAhead) return false;
  return limit == RLIM_INFINITY ||
         OpenWalkListings() + gListingsAhead + kReadAheadDescriptorMargin < limit;
}

void DropFirstFetch(DirListing* listing);

// Closes a listing and keeps it for another directory. What was named ahead in it is given back
// first: a listing read ahead may be given up with fetches out that use its descriptor.
void PutBackListing(DirListing* listing) {
  while (!listing->fetches.empty()) DropFirstFetch(listing);
  if (listing->fd >= 0 && ReadAheadAllowed(false)) {
    CloseWhenIdle(listing->fd);
  } else if (listing->fd >= 0) {
    close(listing->fd);
  }
  listing->fd = -1;
  gSpareListings.emplace_back(listing);
}

void AwaitFetchOf(DirListing::Fetch* fetch) {
  if (!fetch->served) AwaitFetch(fetch->request);
  fetch->served = true;
}

// Gives back the fetch at the head of the listing's, with whatever it holds.
void DropFirstFetch(DirListing* listing) {
  DirListing::Fetch& fetch = listing->fetches.front();
  AwaitFetchOf(&fetch);
  if (DirListing* child = fetch.request->child) {
    PutBackListing(child);
    --gListingsAhead;
  }
  ReleaseFetch(fetch.request);
  listing->fetches.pop_front();
}

// The fetch of the current entry, awaited; nullptr when there was none.
FetchRequest* CurrentFetch(DirListing* listing) {
  if (listing->fetches.empty() || listing->current == nullptr) return nullptr;
  DirListing::Fetch& fetch = listing->fetches.front();
  if (fetch.item != static_cast<size_t>(listing->current - listing->items.data())) return nullptr;
  AwaitFetchOf(&fetch);
  return fetch.request;
}

}  // namespace

DirListing* OpenListing(const std::string& directory, DirListing* parent) {
  if (parent != nullptr) {
    FetchRequest* fetch = CurrentFetch(parent);
    if (fetch != nullptr && fetch->listed) {
      DirListing* listing = fetch->child;
      fetch->child = nullptr;
      --gListingsAhead;
      if (IsAncestor(parent, listing->device, listing->inode)) {
        PutBackListing(listing);
        return nullptr;
      }
      listing->parent = parent;
      CountOpenListings(1);
      CountWalkedEntries(listing->leftOut);
      return listing;
    }
  }
  const int fd = parent == nullptr
                     ? OpenDirectoryPath(directory, kDirectoryOpenFlags)
                     : openat(parent->fd, CurrentName(parent), kDirectoryOpenFlags | O_NOFOLLOW);
  if (fd < 0) return nullptr;
  // The one status call per directory: its identity, against a tree that loops back through
  // a bind mount.
  struct stat status;
  if (fstat(fd, &status) != 0 || IsAncestor(parent, status.st_dev, status.st_ino)) {
    close(fd);
    return nullptr;
  }
  DirListing* listing = TakeSpareListing();
  listing->fd = fd;
  listing->parent = parent;
  listing->device = status.st_dev;
  listing->inode = status.st_ino;
  if (!ReadAllNames(listing)) {
    PutBackListing(listing);
    return nullptr;
  }
  CountOpenListings(1);
  CountWalkedEntries(listing->leftOut);
  if (parent == nullptr) BeginTreeScout(fcntl(fd, F_DUPFD_CLOEXEC, 0));
  return listing;
}

bool ReadListingEntry(DirListing* listing, FileEntry* entry) {
  CloseEntryDescriptor(listing);
  // The fetches of the entries passed are done with.
  while (!listing->fetches.empty() && listing->fetches.front().item < listing->next) {
    DropFirstFetch(listing);
  }
  if (listing->next >= listing->items.size()) return false;
  listing->current = &listing->items[listing->next++];
  CountWalkedEntries(1);
  listing->haveStatus = false;
  unsigned char type = listing->current->type;
  if (type == DT_UNKNOWN) {
    if (fstatat(listing->fd, CurrentName(listing), &listing->status, AT_SYMLINK_NOFOLLOW) == 0) {
      // The status of anything but a link is also what ReadEntryDetails needs.
      listing->haveStatus = !S_ISLNK(listing->status.st_mode);
      type = S_ISDIR(listing->status.st_mode) ? DT_DIR : DT_REG;
    }
  }
  entry->attributes = type == DT_DIR ? kDirectoryAttribute : 0;
  entry->writeTime = -1;
  entry->size = 0;
  entry->name = CurrentName(listing);
  return true;
}

void ReadEntryDetails(DirListing* listing, FileEntry* entry) {
  const char* name = CurrentName(listing);
  if (!listing->haveStatus) {
    const FetchRequest* fetch = CurrentFetch(listing);
    if (fetch != nullptr && fetch->haveStatus) {
      listing->status = fetch->status;
      listing->haveStatus = true;
    }
  }
  if (!listing->haveStatus && listing->current->type == DT_REG) {
    // A regular file is opened at once: its status then comes without a second lookup of the
    // name, and the descriptor is there for its contents.
    const int fd = openat(listing->fd, name, kEntryOpenFlags);
    if (fd >= 0) {
      if (fstat(fd, &listing->status) == 0) {
        listing->haveStatus = true;
        listing->entryFd = fd;
      } else {
        close(fd);
      }
    }
  }
  if (!listing->haveStatus) {
    // A link is shown as its target; one whose target cannot be reached, as itself.
    listing->haveStatus = fstatat(listing->fd, name, &listing->status, 0) == 0 ||
                          fstatat(listing->fd, name, &listing->status, AT_SYMLINK_NOFOLLOW) == 0;
  }
  if (!listing->haveStatus) return;
  entry->writeTime = WriteTimeFromInstant(listing->status.st_mtim.tv_sec);
  entry->size =
      S_ISDIR(listing->status.st_mode) ? 0 : static_cast<uint32_t>(listing->status.st_size);
}

void CloseListing(DirListing* listing) {
  if (listing->parent == nullptr) EndTreeScout();
  CloseEntryDescriptor(listing);
  PutBackListing(listing);
  CountOpenListings(-1);
}

size_t OpenWalkListings() {
  return gOpenListings.load(std::memory_order_relaxed);
}

size_t NextEntryIndex(DirListing* listing) {
  return listing->next;
}

bool PeekListingEntry(DirListing* listing, size_t index, FileEntry* entry) {
  if (index >= listing->items.size()) return false;
  const DirListing::Item& item = listing->items[index];
  entry->attributes = item.type == DT_DIR ? kDirectoryAttribute : 0;
  entry->writeTime = -1;
  entry->size = 0;
  entry->name = listing->names.data() + item.nameOffset;
  return true;
}

bool ReadAhead(DirListing* listing, size_t index, bool details, bool descend) {
  // Entries already delivered, and those named before, are passed over.
  if (index >= listing->items.size() || index < listing->next) return true;
  // Usually named in order, but directories may be named before the entries ahead of them.
  auto at = listing->fetches.end();
  while (at != listing->fetches.begin() && std::prev(at)->item >= index) --at;
  if (at != listing->fetches.end() && at->item == index) return true;
  descend = descend && listing->items[index].type == DT_DIR;
  if (!details && !descend) return true;
  if (!ReadAheadAllowed(descend)) return false;
  FetchRequest* request = AcquireFetch();
  if (request == nullptr) return false;
  request->directoryFd = listing->fd;
  request->directoryDevice = listing->device;
  request->name = listing->names.data() + listing->items[index].nameOffset;
  request->details = details;
  if (descend) {
    request->child = TakeSpareListing();
    ++gListingsAhead;
  }
  listing->fetches.insert(at, {index, request, false});
  SubmitFetch(request);
  if (index + 1 == listing->items.size()) FlushFetches();
  return true;
}

DirListing* ListedAhead(DirListing* listing, size_t index) {
  // The fetches are in listing order; the one looked for is usually the last.
  for (auto fetch = listing->fetches.rbegin(); fetch != listing->fetches.rend(); ++fetch) {
    if (fetch->item > index) continue;
    if (fetch->item < index) return nullptr;
    if (!fetch->served && !FetchServed(fetch->request)) {
      // The walk will wait for it soon: it must not sit in the queue meanwhile.
      FlushFetches();
      return nullptr;
    }
    fetch->served = true;
    return fetch->request->listed ? fetch->request->child : nullptr;
  }
  return nullptr;
}

namespace {

// A file that could not be read now is tried again when the walk reaches it.
void TakeHead(FetchRequest* request, const uint8_t* bytes, int result) {
  if (result < 0) return;
  request->versionStatus = ReadVersionResourceFromHead(
      request->directoryFd, request->name, bytes, static_cast<size_t>(result), &request->resource);
  request->versionRead = true;
}

}  // namespace

bool ServeFetches(FetchRequest* const* requests, size_t count, bool keepReading) {
  static_assert(kFetchBatch <= kMaxHeadReads);
  // The heads of the regular files among them are read together, after every status.
  HeadRead* reads[kFetchBatch] = {};
  FetchRequest* readers[kFetchBatch];
  size_t readCount = 0;
  for (size_t i = 0; i < count; ++i) {
    FetchRequest* request = requests[i];
    if (request->details) {
      // As ReadEntryDetails does it: a link is shown as its target, or as itself.
      request->haveStatus =
          fstatat(request->directoryFd, request->name, &request->status, 0) == 0 ||
          fstatat(request->directoryFd, request->name, &request->status, AT_SYMLINK_NOFOLLOW) == 0;
      if (request->haveStatus && S_ISREG(request->status.st_mode)) {
        if (request->status.st_size < static_cast<off_t>(kDosHeaderSize) &&
            request->status.st_dev == request->directoryDevice &&
            IsKnownLocalFileSystem(request->directoryFd, request->directoryDevice)) {
          // Too short to be an image: a read saved, which on a cold disk is a wait.
          request->versionStatus = ResourceStatus::kAbsent;
          request->versionRead = true;
        } else {
          request->head = {request->directoryFd, request->name, request->headBytes, -1, request};
          reads[readCount] = &request->head;
          readers[readCount++] = request;
        }
      }
    }
    if (DirListing* child = request->child) {
      child->fd = openat(request->directoryFd, request->name, kDirectoryOpenFlags | O_NOFOLLOW);
      struct stat status;
      if (child->fd >= 0 && fstat(child->fd, &status) == 0) {
        child->device = status.st_dev;
        child->inode = status.st_ino;
        request->listed = ReadAllNames(child);
      }
    }
  }
  bool waited = false;
  if (keepReading && StartHeadReads(reads, readCount, &waited)) {
    for (size_t i = 0; i < readCount; ++i) readers[i]->reading = true;
    return waited;
  }
  waited = ReadHeads(reads, readCount);
  for (size_t i = 0; i < readCount; ++i) TakeHead(readers[i], reads[i]->bytes, reads[i]->result);
  return waited;
}

size_t FinishFetches(FetchRequest** finished, size_t most, bool wait) {
  HeadRead* reads[kMaxHeadReadsOut];
  const size_t count = TakeHeadReads(reads, std::min(most, kMaxHeadReadsOut), wait);
  for (size_t i = 0; i < count; ++i) {
    FetchRequest* request = static_cast<FetchRequest*>(reads[i]->owner);
    TakeHead(request, request->headBytes, reads[i]->result);
    finished[i] = request;
  }
  return count;
}

bool TakeFetchedVersion(DirListing* listing, std::vector<uint8_t>* resource,
                        ResourceStatus* status) {
  if (!listing->haveStatus || !S_ISREG(listing->status.st_mode)) return false;
  FetchRequest* fetch = CurrentFetch(listing);
  if (fetch == nullptr || !fetch->versionRead) return false;
  fetch->versionRead = false;
  resource->swap(fetch->resource);
  *status = fetch->versionStatus;
  return true;
}

int OpenCurrentEntry(DirListing* listing) {
  if (!listing->haveStatus || !S_ISREG(listing->status.st_mode)) return -1;
  const int fd = listing->entryFd;
  listing->entryFd = -1;
  if (fd >= 0) return fd;
  // A link to a regular file was not opened by ReadEntryDetails; it is followed here.
  return openat(listing->fd, CurrentName(listing), kEntryOpenFlags & ~O_NOFOLLOW);
}

void SetListingFilter(bool (*wanted)(const char* name)) {
  gListingFilter.store(wanted, std::memory_order_relaxed);
}

bool ListingWants(const char* name) {
  bool (*const wanted)(const char*) = gListingFilter.load(std::memory_order_relaxed);
  return wanted == nullptr || wanted(name);
}
