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
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "image/pe_image.h"
#include "platform/posix/head_reader.h"
#include "platform/posix/posix_listing.h"
#include "settings/run_settings.h"

namespace {

// The most threads that scout, each holding at most two descriptors; more only take the
// processors from the walk.
constexpr int kMaxScoutThreads = 8;

// The scout opens nothing while the walk's own descriptors come within this many of the limit,
// so that it never takes one the walk needs: the read-ahead's own margin, and then some.
constexpr rlim_t kDescriptorMargin = 512;

std::atomic<long> gWalked{0};

bool HaveDescriptorRoom() {
  static const rlim_t limit = [] {
    struct rlimit current;
    return getrlimit(RLIMIT_NOFILE, &current) == 0 ? current.rlim_cur : 0;
  }();
  return limit == RLIM_INFINITY ||
         static_cast<rlim_t>(OpenWalkListings()) + kDescriptorMargin < limit;
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

// A directory scouted, for trees that loop back through a bind mount.
struct Ancestor {
  dev_t device;
  ino_t inode;
  std::shared_ptr<const Ancestor> parent;
};

struct Pending {
  std::string path;  // relative to the root; empty for the root itself
  std::shared_ptr<const Ancestor> parent;
};

class Scout {
 public:
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

  void End() {
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_.store(true, std::memory_order_relaxed);
      workers.swap(workers_);
    }
    more_.notify_all();
    for (std::thread& worker : workers) worker.join();
    std::lock_guard<std::mutex> lock(mutex_);
    if (rootFd_ >= 0) close(rootFd_);
    rootFd_ = -1;
    pending_.clear();
    busy_ = 0;
    stopping_.store(false, std::memory_order_relaxed);
  }

 private:
  // Under the lock: scouting is worth it only where the walk goes down the tree.
  void MaybeStart() {
    if (threads_ == 0 || rootFd_ < 0 || !workers_.empty() || !recurse_ || Stopping()) return;
    pending_.push_back({"", nullptr});
    for (int i = 0; i < threads_; ++i) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;
      }
    }
  }

  // Directories are taken last pushed first, so that the scout goes down the tree as the walk
  // does, several directories at a time.
  void Work() {
    std::vector<char> records(kRecordBufferSize);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      more_.wait(lock, [this] { return Stopping() || !pending_.empty() || busy_ == 0; });
      if (Stopping() || pending_.empty()) break;
      const Pending directory = std::move(pending_.back());
      pending_.pop_back();
      ++busy_;
      lock.unlock();
      std::vector<Pending> children;
      ScoutDirectory(directory, &records, &children);
      lock.lock();
      for (auto child = children.rbegin(); child != children.rend(); ++child) {
        pending_.push_back(std::move(*child));
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
    if (!HaveDescriptorRoom()) return;
    // The root is opened afresh: a duplicate would share the walk's offset in its listing.
    const int fd = OpenBelow(rootFd_, directory.path.empty() ? "." : directory.path);
    if (fd < 0) return;
    struct stat status;
    bool loops = fstat(fd, &status) != 0;
    for (const Ancestor* above = directory.parent.get(); !loops && above != nullptr;
         above = above->parent.get()) {
      loops = above->device == status.st_dev && above->inode == status.st_ino;
    }
    std::vector<std::string> subdirectories;
    for (ssize_t got = 1; !loops && got > 0 && KeepPace();) {
      got = getdents64(fd, records->data(), records->size());
      for (size_t at = 0; got > 0 && at < static_cast<size_t>(got);) {
        const auto* record = reinterpret_cast<const dirent64*>(records->data() + at);
        at += record->d_reclen;
        const char* name = record->d_name;
        if (record->d_ino == 0) continue;
        // "." and ".." count as the walk counts them, so that the lead does not grow.
        scouted_.fetch_add(1, std::memory_order_relaxed);
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        if (ScoutEntry(fd, name, record->d_type)) subdirectories.push_back(name);
      }
    }
    close(fd);
    if (subdirectories.empty()) return;
    // The order the walk will go into them.
    std::sort(subdirectories.begin(), subdirectories.end(),
              [](const std::string& a, const std::string& b) {
                return ListsBefore(a.c_str(), b.c_str());
              });
    auto self =
        std::make_shared<const Ancestor>(Ancestor{status.st_dev, status.st_ino, directory.parent});
    const std::string prefix = directory.path.empty() ? "" : directory.path + "/";
    for (const std::string& name : subdirectories) children->push_back({prefix + name, self});
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
        status.st_size < static_cast<off_t>(kDosHeaderSize) || !HaveDescriptorRoom()) {
      return false;
    }
    const int fd = openat(directoryFd, name, kContentOpenFlags | O_NOFOLLOW);
    if (fd >= 0) {
      posix_fadvise(fd, 0, kHeadSize, POSIX_FADV_WILLNEED);
      close(fd);
    }
    return false;
  }

  std::mutex mutex_;
  std::condition_variable more_;
  std::vector<std::thread> workers_;
  std::vector<Pending> pending_;  // directories to scout, the next one last
  int rootFd_ = -1;               // set before the workers start, closed after they end
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
