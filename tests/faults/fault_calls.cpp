// The calls lumo_faults puts between lumo and the C library (linked with --wrap), failing or
// cutting short those its plan names.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "faults/fault_plan.h"

#ifdef LUMO_HAVE_LIBURING
#include <liburing.h>
#endif

extern "C" {
int __real_openat(int, const char*, int, ...);
int __real_fstat(int, struct stat*);
int __real_fstatat(int, const char*, struct stat*, int);
ssize_t __real_getdents64(int, void*, size_t);
ssize_t __real_pread(int, void*, size_t, off_t);
ssize_t __real_write(int, const void*, size_t);
}

namespace {

enum Call { kOpenat, kFstat, kFstatat, kGetdents, kPread, kRing, kCallCount };
const char* const kCallNames[kCallCount] = {"openat",     "fstat", "fstatat",
                                            "getdents64", "pread", "ring"};

struct Fault {
  int error = 0;  // 0: none; -1: a short result
  int every = 0;
  bool aheadOnly = false;
  std::atomic<long> calls{0};
};

Fault gFaults[kCallCount];
useconds_t gDelay = 0;
std::string gSwapName;
std::once_flag gSwapped;
// Calls made since a write to the output failed.
std::atomic<bool> gOutputFailed{false};
std::atomic<long> gCallsSinceFailure{0};
std::chrono::steady_clock::time_point gFailedAt;

int ErrorNamed(const std::string& name) {
  static const struct {
    const char* name;
    int error;
  } kErrors[] = {{"EMFILE", EMFILE}, {"ENFILE", ENFILE}, {"ENOENT", ENOENT}, {"EACCES", EACCES},
                 {"EIO", EIO},       {"EINTR", EINTR},   {"ENOMEM", ENOMEM}, {"EBADR", EBADR}};
  if (name == "short") return -1;
  for (const auto& known : kErrors) {
    if (name == known.name) return known.error;
  }
  return 0;
}

bool OnWalkThread() {
  return gettid() == getpid();
}

// What happens to this call: 0 for nothing, else the fault's error (-1: short).
int Strike(Call call) {
  if (gOutputFailed.load(std::memory_order_relaxed)) gCallsSinceFailure.fetch_add(1);
  if (gDelay > 0) usleep(gDelay);
  Fault& fault = gFaults[call];
  if (fault.error == 0 || (fault.aheadOnly && OnWalkThread())) return 0;
  return fault.calls.fetch_add(1, std::memory_order_relaxed) % fault.every == 0 ? fault.error : 0;
}

// Whether this call fails, with errno set; `cut` (where given) says whether it comes back short.
bool Fails(Call call, bool* cut = nullptr) {
  const int error = Strike(call);
  if (cut != nullptr) *cut = error < 0;
  if (error <= 0) return false;
  errno = error;
  return true;
}

// After the first call that names the file to swap, its new version takes its name.
void MaybeSwap(int directoryFd, const char* name) {
  if (gSwapName.empty() || name == nullptr || gSwapName != name) return;
  std::call_once(gSwapped,
                 [&] { renameat(directoryFd, (gSwapName + ".new").c_str(), directoryFd, name); });
}

}  // namespace

bool SetFaultPlan(const std::string& plan) {
  size_t start = 0;
  while (start < plan.size()) {
    size_t end = plan.find(',', start);
    if (end == std::string::npos) end = plan.size();
    std::vector<std::string> parts;
    for (size_t at = start; at <= end;) {
      const size_t colon = std::min(plan.find(':', at), end);
      parts.push_back(plan.substr(at, colon - at));
      at = colon + 1;
    }
    start = end + 1;
    if (parts.size() == 2 && parts[0] == "delay") {
      gDelay = static_cast<useconds_t>(std::atoi(parts[1].c_str()));
      continue;
    }
    if (parts.size() == 2 && parts[0] == "swap") {
      gSwapName = parts[1];
      continue;
    }
    int call = 0;
    while (call < kCallCount && parts[0] != kCallNames[call]) ++call;
    if (call == kCallCount || parts.size() < 3 || parts.size() > 4) return false;
    Fault& fault = gFaults[call];
    fault.error = ErrorNamed(parts[1]);
    fault.every = std::atoi(parts[2].c_str());
    fault.aheadOnly = parts.size() == 4 && parts[3] == "ahead";
    if (fault.error == 0 || fault.every <= 0 || (parts.size() == 4 && !fault.aheadOnly)) {
      return false;
    }
  }
  return true;
}

extern "C" {

int __wrap_openat(int directoryFd, const char* name, int flags, ...) {
  if (Fails(kOpenat)) return -1;
  const int fd = __real_openat(directoryFd, name, flags, 0);
  MaybeSwap(directoryFd, name);
  return fd;
}

int __wrap_fstat(int fd, struct stat* status) {
  return Fails(kFstat) ? -1 : __real_fstat(fd, status);
}

int __wrap_fstatat(int directoryFd, const char* name, struct stat* status, int flags) {
  if (Fails(kFstatat)) return -1;
  const int result = __real_fstatat(directoryFd, name, status, flags);
  MaybeSwap(directoryFd, name);
  return result;
}

ssize_t __wrap_getdents64(int fd, void* buffer, size_t size) {
  bool cut;
  if (Fails(kGetdents, &cut)) return -1;
  // A buffer that holds a few records, as a listing interrupted by a signal returns.
  return __real_getdents64(fd, buffer, cut ? std::min<size_t>(size, 1024) : size);
}

ssize_t __wrap_pread(int fd, void* buffer, size_t size, off_t offset) {
  bool cut;
  if (Fails(kPread, &cut)) return -1;
  return __real_pread(fd, buffer, cut && size > 1 ? size / 2 : size, offset);
}

ssize_t __wrap_write(int fd, const void* bytes, size_t size) {
  const ssize_t written = __real_write(fd, bytes, size);
  if (written < 0 && fd == STDOUT_FILENO && !gOutputFailed.exchange(true)) {
    gFailedAt = std::chrono::steady_clock::now();
  }
  return written;
}

#ifdef LUMO_HAVE_LIBURING
int __real_io_uring_submit_and_get_events(io_uring*);
int __real_io_uring_get_events(io_uring*);

int __wrap_io_uring_submit_and_get_events(io_uring* ring) {
  if (const int error = Strike(kRing); error > 0) return -error;
  return __real_io_uring_submit_and_get_events(ring);
}

int __wrap_io_uring_get_events(io_uring* ring) {
  if (const int error = Strike(kRing); error > 0) return -error;
  return __real_io_uring_get_events(ring);
}
#endif

}  // extern "C"

// Once everything else has ended, the threads too: how much was done after the output failed.
__attribute__((destructor)) static void ReportCallsSinceFailure() {
  if (!gOutputFailed.load()) return;
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - gFailedAt);
  const std::string line =
      "calls after the output failed: " + std::to_string(gCallsSinceFailure.load()) + " in " +
      std::to_string(took.count()) + " ms\n";
  __real_write(STDERR_FILENO, line.data(), line.size());
}
