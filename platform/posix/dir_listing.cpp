#include "platform/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <malloc.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "platform/console.h"
#include "platform/posix/fetch_queue.h"
#include "platform/posix/head_reader.h"
#include "platform/posix/open_directory_path.h"
#include "platform/posix/posix_listing.h"
#include "platform/posix/read_ahead_budget.h"
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
  size_t heldBytes = 0;     // of read-ahead's memory, while listed ahead
  size_t next = 0;
  // The current entry, and its status where it is known.
  const Item* current = nullptr;
  bool haveStatus = false;
  struct stat status;
  int entryFd = -1;            // the current entry, opened by ReadEntryDetails, until taken
  bool fetchedRecord = false;  // the current entry's status is read-ahead's record
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
// Lists at most so many directories ahead.
constexpr size_t kMaxListingsAhead = 64;

// Closed listings, kept so that their buffers serve the next directories: so many at most, each
// keeping buffers of at most so many bytes.
constexpr size_t kMaxSpareListings = 16;
constexpr size_t kMaxSpareBytes = 16 * 1024;
std::vector<std::unique_ptr<DirListing>> gSpareListings;
// Listings open on the walk's thread, its own, from the root down (read by the scout too, by
// their number), and those listed ahead and not yet taken.
std::vector<DirListing*> gWalkListings;
std::atomic<size_t> gOpenListings{0};
size_t gListingsAhead = 0;

std::atomic<bool (*)(const char*)> gListingFilter{nullptr};

void CountOpenListings() {
  gOpenListings.store(gWalkListings.size(), std::memory_order_relaxed);
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

// Whether the file open on `fd`, on `device`, is on ext4, tmpfs, XFS or Btrfs, where a regular
// file's size is its length, where a network or FUSE file system may say 0 of a file it has not
// fetched. Kept for the last device asked about.
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

// Reserves read-ahead's memory for what the listing's buffers hold now; false where it cannot.
bool HoldAheadBytes(DirListing* listing) {
  const size_t held =
      listing->names.capacity() + listing->items.capacity() * sizeof(DirListing::Item);
  if (held <= listing->heldBytes) return true;
  if (!ReserveAheadBytes(held - listing->heldBytes)) return false;
  listing->heldBytes = held;
  return true;
}

// Reads every name of the directory, then sorts them: "." and ".." first, the rest by
// ListsBefore. The listing ends where the kernel says it ends, a read that returns nothing; a
// read that is interrupted is made again. Of the entries other than directories that the
// listing filter refuses, only the one that lists first among those whose names do not begin
// with "." is kept. A failed read ends the listing where it stands, as readdir's end does. Read
// `ahead` of the walk, the names are held within read-ahead's memory, and a listing that
// outgrows it is cut short there.
enum class NamesRead { kWhole, kCut, kTooMany };
NamesRead ReadAllNames(DirListing* listing, bool ahead) {
  alignas(dirent64) thread_local char records[kRecordBufferSize];
  std::vector<char>& names = listing->names;
  DirListing::Item dots[2];
  int dotCount = 0;
  bool (*const wanted)(const char*) = gListingFilter.load(std::memory_order_relaxed);
  DirListing::Item firstRefused{};
  bool refused = false;
  bool whole = true;
  for (;;) {
    const ssize_t got = getdents64(listing->fd, records, sizeof records);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      whole = false;
      break;
    }
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
      if (names.size() + length + 1 > UINT32_MAX) return NamesRead::kTooMany;
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
    if (ahead && !HoldAheadBytes(listing)) return NamesRead::kCut;
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
  return whole && (!ahead || HoldAheadBytes(listing)) ? NamesRead::kWhole : NamesRead::kCut;
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
  listing->heldBytes = 0;
  listing->next = 0;
  listing->current = nullptr;
  listing->haveStatus = false;
  listing->entryFd = -1;
  listing->fetchedRecord = false;
  return listing;
}

// The status of entry `name` of the directory open on `directoryFd`, listed as `type`, as the
// walk shows it. A regular file's comes from the descriptor it is opened on for its contents,
// left in `fd` for the caller to close, so that its date, size and version all come from one
// and the same file, whatever happens to the name meanwhile. A symbolic link is shown as its
// target, or as itself where the target cannot be reached. `openError` gets the error of an
// open that failed. Returns true where every call succeeded: a status that had to be taken
// some other way is what the walk shows, but not what read-ahead may hand it.
bool TakeEntryStatus(int directoryFd, const char* name, unsigned char type, struct stat* status,
                     bool* haveStatus, int* fd, int* openError) {
  *haveStatus = false;
  *fd = -1;
  *openError = 0;
  bool clean = true;
  if (type == DT_REG) {
    const int opened = openat(directoryFd, name, kEntryOpenFlags);
    if (opened >= 0 && fstat(opened, status) == 0) {
      *haveStatus = true;
      *fd = opened;
      return true;
    }
    if (opened >= 0) close(opened);
    if (opened < 0) *openError = errno;
    clean = false;
  }
  if (fstatat(directoryFd, name, status, 0) != 0) {
    // A link whose target cannot be reached.
    *haveStatus = fstatat(directoryFd, name, status, AT_SYMLINK_NOFOLLOW) == 0;
    return false;
  }
  *haveStatus = true;
  if (!S_ISREG(status->st_mode)) return clean;
  // A link to a regular file: its target opened, and its status taken again from there.
  struct stat opened;
  *fd = openat(directoryFd, name, kContentOpenFlags);
  if (*fd < 0) {
    *openError = errno;
    return false;
  }
  if (fstat(*fd, &opened) != 0) {
    close(*fd);
    *fd = -1;
    return false;
  }
  *status = opened;
  return clean;
}

// Frees a spare listing's buffers where they are larger than `most` bytes.
void TrimSpare(DirListing* listing, size_t most) {
  if (listing->names.capacity() > most) std::vector<char>().swap(listing->names);
  if (listing->items.capacity() * sizeof(DirListing::Item) > most) {
    std::vector<DirListing::Item>().swap(listing->items);
  }
}

// Keeps a listing for another directory, and its buffers within bounds. A listing is never
// freed while the walk runs: naming ahead may still look at one it went into.
void KeepSpare(DirListing* listing) {
  listing->names.clear();
  listing->items.clear();
  TrimSpare(listing, gSpareListings.size() < kMaxSpareListings ? kMaxSpareBytes : 0);
  gSpareListings.emplace_back(listing);
}

void DropFirstFetch(DirListing* listing);

// Closes a listing and keeps it for another directory. What was named ahead in it is given up
// first: a listing read ahead may be given up with fetches out that use its descriptor. `ahead`:
// its descriptor and memory are read-ahead's.
void PutBackListing(DirListing* listing, bool ahead) {
  while (!listing->fetches.empty()) DropFirstFetch(listing);
  if (listing->fd >= 0 && (ahead || TakeAheadDescriptor())) {
    CloseWhenIdle(listing->fd);
  } else if (listing->fd >= 0) {
    close(listing->fd);
  }
  listing->fd = -1;
  ReleaseAheadBytes(listing->heldBytes);
  listing->heldBytes = 0;
  KeepSpare(listing);
}

void AwaitFetchOf(DirListing::Fetch* fetch) {
  if (!fetch->served) AwaitFetch(fetch->request);
  fetch->served = true;
}

// Gives back the fetch at the head of the listing's, with whatever it holds, unserved where it
// has not begun.
void DropFirstFetch(DirListing* listing) {
  DirListing::Fetch& fetch = listing->fetches.front();
  if (!fetch.served) CancelFetch(fetch.request);
  if (DirListing* child = fetch.request->child) {
    PutBackListing(child, true);
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

// Memory kept back while read-ahead runs, for the walk's thread: where an allocation of its
// fails, this is given up for it at once, and read-ahead gives back all it holds as soon as the
// walk is between two entries (not in the middle of changing something read-ahead shares).
constexpr size_t kWalkReserve = 1 << 20;
void* gWalkReserve = nullptr;  // the walk's thread's alone
std::atomic<pthread_t> gWalkThread;
bool gMemoryShort = false;

void GiveReserveToTheWalk() {
  if (!pthread_equal(pthread_self(), gWalkThread.load()) || gWalkReserve == nullptr) {
    throw std::bad_alloc();
  }
  free(gWalkReserve);
  gWalkReserve = nullptr;
  gMemoryShort = true;
}

void KeepWalkReserve() {
  if (gWalkReserve == nullptr) gWalkReserve = malloc(kWalkReserve);
  gWalkThread.store(pthread_self());
  std::set_new_handler(GiveReserveToTheWalk);
}

void ReleaseWalkReserve() {
  std::set_new_handler(nullptr);
  free(gWalkReserve);
  gWalkReserve = nullptr;
  gMemoryShort = false;
}

}  // namespace

bool StopReadAhead() {
  const bool held = ReadAheadOn() || AheadDescriptors() > 0 || gListingsAhead > 0;
  StopFetches();
  EndTreeScout();
  // Every fetch is marked first, so that a worker leaves the rest of its batch undone.
  for (DirListing* listing : gWalkListings) {
    for (DirListing::Fetch& fetch : listing->fetches) {
      fetch.request->cancelled.store(true, std::memory_order_relaxed);
    }
  }
  for (DirListing* listing : gWalkListings) {
    while (!listing->fetches.empty()) DropFirstFetch(listing);
  }
  CloseIdleDescriptors();
  for (const auto& spare : gSpareListings) TrimSpare(spare.get(), 0);
  FreeFetches();
  EndHeadReads();
  ReleaseWalkReserve();
  // What was freed is given back whole, not kept in pieces too small for the walk.
  malloc_trim(0);
  return held;
}

namespace {

bool OutOfRoom(int error) {
  return error == EMFILE || error == ENFILE || error == ENOMEM;
}

// Lists the walk's directory `listing`, open on its descriptor. Where memory runs out,
// read-ahead gives back what it holds and the directory is read again. Returns false where it
// has more names than a listing holds.
bool ReadWalkListing(DirListing* listing) {
  try {
    return ReadAllNames(listing, false) != NamesRead::kTooMany;
  } catch (const std::bad_alloc&) {
    if (!StopReadAhead() || lseek(listing->fd, 0, SEEK_SET) != 0) throw;
  }
  listing->names.clear();
  listing->items.clear();
  listing->leftOut = 0;
  return ReadAllNames(listing, false) != NamesRead::kTooMany;
}

int OpenWalkDirectory(const std::string& directory, DirListing* parent) {
  auto open = [&] {
    return parent == nullptr
               ? OpenDirectoryPath(directory, kDirectoryOpenFlags)
               : openat(parent->fd, CurrentName(parent), kDirectoryOpenFlags | O_NOFOLLOW);
  };
  int fd = open();
  if (fd < 0 && OutOfRoom(errno) && StopReadAhead()) fd = open();
  return fd;
}

}  // namespace

DirListing* OpenListing(const std::string& directory, DirListing* parent) {
  DirListing* listing = nullptr;
  if (parent != nullptr) {
    FetchRequest* fetch = CurrentFetch(parent);
    if (fetch != nullptr && fetch->listed) {
      listing = fetch->child;
      fetch->child = nullptr;
      --gListingsAhead;
      // The listing is the walk's from now on.
      ReturnAheadDescriptor();
      ReleaseAheadBytes(listing->heldBytes);
      listing->heldBytes = 0;
      if (IsAncestor(parent, listing->device, listing->inode)) {
        PutBackListing(listing, false);
        return nullptr;
      }
    }
  }
  if (listing == nullptr) {
    const int fd = OpenWalkDirectory(directory, parent);
    if (fd < 0) return nullptr;
    // The one status call per directory: its identity, against a tree that loops back through
    // a bind mount.
    struct stat status;
    if (fstat(fd, &status) != 0 || IsAncestor(parent, status.st_dev, status.st_ino)) {
      close(fd);
      return nullptr;
    }
    try {
      listing = TakeSpareListing();
    } catch (const std::bad_alloc&) {
      if (!StopReadAhead()) throw;
      listing = TakeSpareListing();
    }
    listing->fd = fd;
    listing->device = status.st_dev;
    listing->inode = status.st_ino;
    if (!ReadWalkListing(listing)) {
      PutBackListing(listing, false);
      return nullptr;
    }
    if (parent == nullptr && ReadAheadOn()) {
      KeepWalkReserve();
      BeginTreeScout(fcntl(fd, F_DUPFD_CLOEXEC, 0));
    }
  }
  listing->parent = parent;
  gWalkListings.push_back(listing);
  CountOpenListings();
  CountWalkedEntries(listing->leftOut);
  return listing;
}

bool ReadListingEntry(DirListing* listing, FileEntry* entry) {
  if (gMemoryShort) {
    gMemoryShort = false;
    StopReadAhead();
  }
  CloseEntryDescriptor(listing);
  // The fetches of the entries passed are done with.
  while (!listing->fetches.empty() && listing->fetches.front().item < listing->next) {
    DropFirstFetch(listing);
  }
  if (listing->next >= listing->items.size()) return false;
  listing->current = &listing->items[listing->next++];
  CountWalkedEntries(1);
  listing->haveStatus = false;
  listing->fetchedRecord = false;
  DirListing::Item& item = listing->items[listing->next - 1];
  if (item.type == DT_UNKNOWN) {
    // The file system does not say: the entry's own status does, and ReadEntryDetails then
    // goes by it.
    struct stat status;
    if (fstatat(listing->fd, CurrentName(listing), &status, AT_SYMLINK_NOFOLLOW) == 0) {
      item.type = S_ISDIR(status.st_mode)   ? DT_DIR
                  : S_ISREG(status.st_mode) ? DT_REG
                  : S_ISLNK(status.st_mode) ? DT_LNK
                                            : DT_UNKNOWN;
    }
  }
  entry->attributes = item.type == DT_DIR ? kDirectoryAttribute : 0;
  entry->writeTime = -1;
  entry->size = 0;
  entry->name = CurrentName(listing);
  return true;
}

void ReadEntryDetails(DirListing* listing, FileEntry* entry) {
  const FetchRequest* fetch = CurrentFetch(listing);
  if (fetch != nullptr && fetch->recorded) {
    listing->status = fetch->status;
    listing->haveStatus = true;
    listing->fetchedRecord = true;
  } else {
    const char* name = CurrentName(listing);
    const unsigned char type = listing->current->type;
    int openError;
    TakeEntryStatus(listing->fd, name, type, &listing->status, &listing->haveStatus,
                    &listing->entryFd, &openError);
    if (OutOfRoom(openError) && StopReadAhead()) {
      CloseEntryDescriptor(listing);
      TakeEntryStatus(listing->fd, name, type, &listing->status, &listing->haveStatus,
                      &listing->entryFd, &openError);
    }
  }
  if (!listing->haveStatus) return;
  entry->writeTime = WriteTimeFromInstant(listing->status.st_mtim.tv_sec);
  entry->size =
      S_ISDIR(listing->status.st_mode) ? 0 : static_cast<uint32_t>(listing->status.st_size);
}

void CloseListing(DirListing* listing) {
  // Nothing more can be shown: what read-ahead has not begun is not begun.
  if (OutputFailed()) StopReadAhead();
  if (listing->parent == nullptr) {
    EndTreeScout();
    ReleaseWalkReserve();
  }
  CloseEntryDescriptor(listing);
  gWalkListings.erase(std::find(gWalkListings.begin(), gWalkListings.end(), listing));
  PutBackListing(listing, false);
  CountOpenListings();
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
  if (descend && gListingsAhead >= kMaxListingsAhead) return false;
  // Read-ahead's own memory running out ends read-ahead, not the walk.
  FetchRequest* request = nullptr;
  try {
    request = AcquireFetch();
    if (request == nullptr) return false;
    request->directoryFd = listing->fd;
    request->name = listing->names.data() + listing->items[index].nameOffset;
    request->type = listing->items[index].type;
    request->details = details;
    request->child = descend ? TakeSpareListing() : nullptr;
    listing->fetches.insert(at, {index, request, false});
  } catch (const std::bad_alloc&) {
    if (request != nullptr) {
      delete request->child;
      request->child = nullptr;
      ReleaseFetch(request);
    }
    StopReadAhead();
    return false;
  }
  if (descend) ++gListingsAhead;
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

void CloseFetchedFile(FetchRequest* request) {
  if (request->fd < 0) return;
  close(request->fd);
  request->fd = -1;
  ReturnAheadDescriptor();
}

// The version of a regular file whose head has been read, or could not be: the record stands
// only where every read succeeded and read-ahead's memory holds the resource.
void TakeHead(FetchRequest* request, const uint8_t* bytes, int result) {
  bool whole = result >= 0;
  if (whole) {
    try {
      request->versionStatus =
          ReadVersionResourceFromHead(request->fd, KnownLength(request->fd, request->status), bytes,
                                      static_cast<size_t>(result), &request->resource, &whole);
    } catch (const std::bad_alloc&) {
      whole = false;
    }
  }
  CloseFetchedFile(request);
  if (whole && ReserveAheadBytes(request->resource.size())) {
    request->heldBytes = request->resource.size();
    request->recorded = true;
  } else {
    request->resource.clear();
  }
}

// Completes a record whose status was taken from the entry's own descriptor, where it has one.
// Returns whether the head of a regular file is to be read for it.
bool FinishRecord(FetchRequest* request) {
  if (S_ISREG(request->status.st_mode)) {
    if (KnownLength(request->fd, request->status) >= kDosHeaderSize) return true;
    // Too short to be an image: a read saved, which on a cold disk is a wait.
    request->versionStatus = ResourceStatus::kAbsent;
  }
  CloseFetchedFile(request);
  request->recorded = true;
  return false;
}

// Takes the entry's record as ReadEntryDetails does, from a descriptor of read-ahead's own.
// Returns whether the head of a regular file is to be read for it.
bool TakeRecord(FetchRequest* request) {
  if (!TakeAheadDescriptor()) return false;
  bool haveStatus;
  int openError;
  const bool clean = TakeEntryStatus(request->directoryFd, request->name, request->type,
                                     &request->status, &haveStatus, &request->fd, &openError);
  if (request->fd < 0) ReturnAheadDescriptor();
  if (clean) return FinishRecord(request);
  CloseFetchedFile(request);
  return false;
}

// The records of entries listed as regular files, each holding a descriptor of read-ahead's, as
// TakeRecord takes them, but opened together through the thread's ring. Returns false, having
// done nothing, where the thread has no ring.
bool TakeFileRecords(FetchRequest* const* files, size_t count, bool* headWanted) {
  int directoryFds[kFetchBatch];
  const char* names[kFetchBatch];
  int fds[kFetchBatch];
  for (size_t i = 0; i < count; ++i) {
    directoryFds[i] = files[i]->directoryFd;
    names[i] = files[i]->name;
    fds[i] = -1;
  }
  if (!OpenFilesBatched(directoryFds, names, kEntryOpenFlags, count, fds)) {
    for (size_t i = 0; i < count; ++i) {
      if (fds[i] >= 0) close(fds[i]);
    }
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    FetchRequest* request = files[i];
    request->fd = fds[i];
    headWanted[i] = false;
    // A file that could not be opened so is left to the walk, which knows what to show for it.
    if (request->fd < 0) {
      ReturnAheadDescriptor();
    } else if (fstat(request->fd, &request->status) != 0) {
      CloseFetchedFile(request);
    } else {
      headWanted[i] = FinishRecord(request);
    }
  }
  return true;
}

// Lists a directory ahead of the walk; a listing that met any failure is not handed out.
void ListAhead(FetchRequest* request) {
  DirListing* child = request->child;
  if (!RoomToListAhead() || !TakeAheadDescriptor()) return;
  child->fd = openat(request->directoryFd, request->name, kDirectoryOpenFlags | O_NOFOLLOW);
  struct stat status;
  if (child->fd >= 0 && fstat(child->fd, &status) == 0) {
    child->device = status.st_dev;
    child->inode = status.st_ino;
    try {
      request->listed = ReadAllNames(child, true) == NamesRead::kWhole;
    } catch (const std::bad_alloc&) {
      request->listed = false;
    }
  }
  if (request->listed) return;
  if (child->fd >= 0) close(child->fd);
  child->fd = -1;
  ReturnAheadDescriptor();
  child->names.clear();
  child->items.clear();
}

}  // namespace

bool ServeFetches(FetchRequest* const* requests, size_t count, bool keepReading) {
  static_assert(kFetchBatch <= kMaxHeadReads);
  // The heads of the regular files among them are read together, after every status.
  HeadRead* reads[kFetchBatch] = {};
  FetchRequest* readers[kFetchBatch];
  size_t readCount = 0;
  auto readHead = [&](FetchRequest* request) {
    request->head = {request->fd, request->headBytes, -1, request};
    reads[readCount] = &request->head;
    readers[readCount++] = request;
  };
  FetchRequest* files[kFetchBatch];
  size_t fileCount = 0;
  for (size_t i = 0; i < count; ++i) {
    FetchRequest* request = requests[i];
    if (request->cancelled.load(std::memory_order_relaxed)) continue;
    if (request->details && request->type == DT_REG && TakeAheadDescriptor()) {
      files[fileCount++] = request;
    } else if (request->details && TakeRecord(request)) {
      readHead(request);
    }
    if (request->child != nullptr) ListAhead(request);
  }
  bool headWanted[kFetchBatch];
  const bool batched = fileCount > 0 && TakeFileRecords(files, fileCount, headWanted);
  for (size_t i = 0; i < fileCount; ++i) {
    if (!batched) {
      ReturnAheadDescriptor();
      headWanted[i] = TakeRecord(files[i]);
    }
    if (headWanted[i]) readHead(files[i]);
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
  if (!listing->fetchedRecord || !S_ISREG(listing->status.st_mode)) return false;
  FetchRequest* fetch = CurrentFetch(listing);
  if (fetch == nullptr) return false;
  resource->swap(fetch->resource);
  *status = fetch->versionStatus;
  return true;
}

int OpenCurrentEntry(DirListing* listing, uint64_t* length) {
  if (!listing->haveStatus || !S_ISREG(listing->status.st_mode)) return -1;
  const int fd = listing->entryFd;
  listing->entryFd = -1;
  if (fd >= 0) *length = KnownLength(fd, listing->status);
  return fd;
}

uint64_t KnownLength(int fd, const struct stat& status) {
  return IsKnownLocalFileSystem(fd, status.st_dev) ? static_cast<uint64_t>(status.st_size)
                                                   : UINT64_MAX;
}

void SetListingFilter(bool (*wanted)(const char* name)) {
  gListingFilter.store(wanted, std::memory_order_relaxed);
}

bool ListingWants(const char* name) {
  bool (*const wanted)(const char*) = gListingFilter.load(std::memory_order_relaxed);
  return wanted == nullptr || wanted(name);
}
