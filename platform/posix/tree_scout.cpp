#include "platform/posix/tree_scout.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "image/pe_image.h"
#include "platform/posix/head_reader.h"
#include "platform/posix/posix_listing.h"
#include "platform/posix/read_ahead_budget.h"
#include "platform/posix/small_thread.h"
#include "settings/run_settings.h"

namespace {

// The most threads that scout, each holding at most two descriptors; more only take the
// processors from the walk.
constexpr int kMaxScoutThreads = 8;

// The most bytes the scout keeps of the directories it has still to go into; past it, it leaves
// the rest to the walk.
constexpr size_t kMaxPendingBytes = 1024 * 1024;

std::atomic<long> gWalked{0};

// A descriptor of the read-ahead's, or -1 where there is no room for one or `open` fails.
template <typename Open>
int OpenWithin(Open open) {
  if (!TakeAheadDescriptor()) return -1;
  const int fd = open();
  if (fd < 0) ReturnAheadDescriptor();
  return fd;
}

void CloseWithin(int fd) {
  close(fd);
  ReturnAheadDescriptor();
}

// Opens a directory below the root without following a symbolic link on the way, where the
// kernel can (since 5.6): one may have taken a directory's place since it was listed.
int OpenBelow(int root, const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
#ifdef SYS_openat2
  open_how how{};
  how.flags = kFlags;
  how.resolve = RESOLVE_NO_SYMLINKS;
  const long fd = syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
#endif
  return openat(root, path.c_str(), kFlags | O_NOFOLLOW);
}

// A directory scouted: its name in its parent's, for the paths of those below it, and its
// identity, for trees that loop back through a bind mount.
struct Ancestor {
  std::string name;
  dev_t device;
  ino_t inode;
  std::shared_ptr<const Ancestor> parent;
};

// A directory to scout: its name in `parent`, whose own path it shares with its siblings; the
// root has neither.
struct Pending {
  std::string name;
  std::shared_ptr<const Ancestor> parent;
};

// What a pending directory holds of the scout's memory.
size_t PendingBytes(const Pending& pending) {
  return sizeof(Pending) + pending.name.size();
}

// The directory's path relative to the root.
std::string PathOf(const Pending& pending) {
  if (pending.parent == nullptr) return ".";
  std::string path = pending.name;
  for (const Ancestor* above = pending.parent.get(); above->parent != nullptr;
       above = above->parent.get()) {
    path.insert(0, above->name + "/");
  }
  return path;
}

class Scout {
 public:
  Scout() { workers_.reserve(kMaxScoutThreads); }
  ~Scout() { End(); }

  void Begin(int fd) {
    End();
    std::lock_guard<std::mutex> lock(mutex_);
    rootFd_ = fd;
    recurse_ = gSettings.recurse;
    scouted_.store(0, std::memory_order_relaxed);
    gWalked.store(0, std::memory_order_relaxed);
    MaybeStart();
  }

  void Let(int threads) {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_ = std::min(threads, kMaxScoutThreads);
    MaybeStart();
  }

  // While the scout stops, no thread is started: its threads are joined without the lock.
  void End() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_.store(true, std::memory_order_relaxed);
    }
    more_.notify_all();
    for (const SmallThread& worker : workers_) JoinSmallThread(worker);
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.clear();
    if (rootFd_ >= 0) close(rootFd_);
    rootFd_ = -1;
    pending_.clear();
    pendingBytes_ = 0;
    busy_ = 0;
    stopping_.store(false, std::memory_order_relaxed);
  }

 private:
  // Under the lock: scouting is worth it only where the walk goes down the tree.
  void MaybeStart() {
    if (threads_ == 0 || rootFd_ < 0 || !workers_.empty() || !recurse_ || Stopping()) return;
    pending_.push_back({});
    for (int i = 0; i < threads_; ++i) {
      SmallThread worker;
      if (!StartSmallThread([](void* scout) { static_cast<Scout*>(scout)->Work(); }, this,
                            &worker)) {
        break;
      }
      workers_.push_back(worker);
    }
  }

  // Directories are taken last pushed first, so that the scout goes down the tree as the walk
  // does, several directories at a time. Scouting only warms the caches: where memory runs out,
  // the scout leaves the rest to the walk.
  void Work() {
    std::vector<char> records;
    try {
      records.resize(kRecordBufferSize);
    } catch (const std::bad_alloc&) {
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      more_.wait(lock, [this] { return Stopping() || !pending_.empty() || busy_ == 0; });
      if (Stopping() || pending_.empty()) break;
      const Pending directory = std::move(pending_.back());
      pending_.pop_back();
      pendingBytes_ -= PendingBytes(directory);
      ++busy_;
      lock.unlock();
      std::vector<Pending> children;
      try {
        ScoutDirectory(directory, &records, &children);
      } catch (const std::bad_alloc&) {
        children.clear();
      }
      lock.lock();
      try {
        for (auto child = children.rbegin(); child != children.rend(); ++child) {
          if (pendingBytes_ + PendingBytes(*child) > kMaxPendingBytes) continue;
          pending_.push_back(std::move(*child));
          pendingBytes_ += PendingBytes(pending_.back());
        }
      } catch (const std::bad_alloc&) {
      }
      --busy_;
      more_.notify_all();
    }
    more_.notify_all();
  }

  bool Stopping() const { return stopping_.load(std::memory_order_relaxed); }

  // Waits while the scout is as far ahead of the walk as it may go; false once it is to stop.
  bool KeepPace() {
    while (!Stopping() && scouted_.load(std::memory_order_relaxed) >
                              gWalked.load(std::memory_order_relaxed) + kScoutEntriesAhead) {
      usleep(1000);
    }
    return !Stopping();
  }

  void ScoutDirectory(const Pending& directory, std::vector<char>* records,
                      std::vector<Pending>* children) {
    // The root is opened afresh: a duplicate would share the walk's offset in its listing.
    const std::string path = PathOf(directory);
    const int fd = OpenWithin([&] { return OpenBelow(rootFd_, path); });
    if (fd < 0) return;
    struct Closer {
      int fd;
      ~Closer() { CloseWithin(fd); }
    } closer{fd};
    struct stat status;
    bool loops = fstat(fd, &status) != 0;
    for (const Ancestor* above = directory.parent.get(); !loops && above != nullptr;
         above = above->parent.get()) {
      loops = above->device == status.st_dev && above->inode == status.st_ino;
    }
    std::vector<std::string> subdirectories;
    size_t subdirectoryBytes = 0;
    for (ssize_t got = 1; !loops && got > 0 && KeepPace();) {
      got = getdents64(fd, records->data(), records->size());
      for (size_t at = 0; got > 0 && at < static_cast<size_t>(got) && !Stopping();) {
        const auto* record = reinterpret_cast<const dirent64*>(records->data() + at);
        at += record->d_reclen;
        const char* name = record->d_name;
        if (record->d_ino == 0) continue;
        // "." and ".." count as the walk counts them, so that the lead does not grow.
        scouted_.fetch_add(1, std::memory_order_relaxed);
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        if (ScoutEntry(fd, name, record->d_type) &&
            (subdirectoryBytes += sizeof(Pending) + strlen(name)) <= kMaxPendingBytes) {
          subdirectories.push_back(name);
        }
      }
    }
    if (subdirectories.empty()) return;
    // The order the walk will go into them.
    std::sort(subdirectories.begin(), subdirectories.end(),
              [](const std::string& a, const std::string& b) {
                return ListsBefore(a.c_str(), b.c_str());
              });
    auto self = std::make_shared<const Ancestor>(
        Ancestor{directory.name, status.st_dev, status.st_ino, directory.parent});
    for (std::string& name : subdirectories) children->push_back({std::move(name), self});
  }

  // Takes the status of an entry the walk will ask about and, for a regular file that may be an
  // image, starts reading its first bytes. Returns whether the entry is a directory. A symbolic
  // link is never followed: what it points to may be anywhere.
  static bool ScoutEntry(int directoryFd, const char* name, unsigned char type) {
    const bool wanted = ListingWants(name);
    if (type == DT_DIR || (type != DT_UNKNOWN && !wanted)) return type == DT_DIR;
    struct stat status;
    if (fstatat(directoryFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (S_ISDIR(status.st_mode)) return true;
    if (!wanted || !S_ISREG(status.st_mode) ||
        status.st_size < static_cast<off_t>(kDosHeaderSize)) {
      return false;
    }
    const int fd =
        OpenWithin([&] { return openat(directoryFd, name, kContentOpenFlags | O_NOFOLLOW); });
    if (fd >= 0) {
      posix_fadvise(fd, 0, kHeadSize, POSIX_FADV_WILLNEED);
      CloseWithin(fd);
    }
    return false;
  }

  std::mutex mutex_;
  std::condition_variable more_;
  std::vector<SmallThread> workers_;  // room for kMaxScoutThreads, kept from the start
  std::vector<Pending> pending_;      // directories to scout, the next one last
  size_t pendingBytes_ = 0;           // of their paths
  int rootFd_ = -1;                   // set before the workers start, closed after they end
  int threads_ = 0;
  bool recurse_ = false;  // the walk's, taken on its thread
  int busy_ = 0;          // workers scouting a directory
  std::atomic<bool> stopping_{false};
  std::atomic<long> scouted_{0};  // entries gone through
};

Scout gScout;

}  // namespace

void BeginTreeScout(int fd) {
  gScout.Begin(fd);
}

void EndTreeScout() {
  gScout.End();
}

void LetTreeScout(int threads) {
  gScout.Let(threads);
}

// One writer: a plain store spares the walk a locked add for each entry.
void CountWalkedEntries(long count) {
  gWalked.store(gWalked.load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
}
