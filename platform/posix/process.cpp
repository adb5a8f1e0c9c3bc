#include "platform/process.h"

#include <fcntl.h>
#include <locale.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "platform/posix/output_charset.h"
#include "platform/read_ahead.h"

namespace {

// The most threads that read ahead of the walk: two for each processor, from 4 to 64. One runs
// while the cache is warm; more start as batches are seen to wait on the disk, which serves
// many requests at once far faster than one after the other. Each reads a batch of files at
// once, so a few suffice; more only spend the processors, which a cold walk keeps busy, on
// changing threads.
int ReadAheadThreads() {
  const long processors = sysconf(_SC_NPROCESSORS_ONLN);
  return static_cast<int>(std::clamp(2 * processors, 4L, 64L));
}

// A standard descriptor that is closed gets /dev/null, read-only, so that no file the walk
// opens takes its number, and writes to a closed standard output still fail.
void HoldStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) continue;
    const int opened = open("/dev/null", O_RDONLY | O_NOCTTY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

// Read-ahead takes address space of its own (its threads' stacks, its rings, what it holds for
// the walk): under a tight limit on it, that is left to the walk, which then reads nothing ahead.
bool AddressSpaceToSpare() {
  constexpr rlim_t kLeastForReadAhead = rlim_t{128} << 20;
  struct rlimit limit;
  return getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
         limit.rlim_cur >= kLeastForReadAhead;
}

// Large blocks are mapped and unmapped rather than kept by the allocator: what read-ahead gives
// back of the address space is the walk's again, under a limit on it.
void LeaveMemoryToTheWalk() {
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

// The walk holds one descriptor per level of depth.
void RaiseOpenFileLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

void PrepareProcess(int*, char***) {
  HoldStandardDescriptors();
  // A reader that goes away is a write that fails, not a signal.
  signal(SIGPIPE, SIG_IGN);
  setlocale(LC_CTYPE, "");
  InitOutputCharset();
  RaiseOpenFileLimit();
  LeaveMemoryToTheWalk();
  SetReadAheadThreads(AddressSpaceToSpare() ? ReadAheadThreads() : 0);
}
