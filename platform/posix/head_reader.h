// Reading the first bytes of many open files at once. Where the kernel offers io_uring, one
// system call reads a whole batch, and a cold disk is given all of its reads together; elsewhere
// the files are read one after the other. A thread may also keep reads in flight from one call to
// the next, so that the disk always has many to serve.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdint>

// How a file whose contents are read is opened (a symbolic link is followed): never waiting on
// a FIFO, never becoming the controlling terminal, never inherited.
constexpr int kContentOpenFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

// How much of each file is read: enough to tell whether it may be an image.
constexpr size_t kHeadSize = 64;
// The most files one call reads.
constexpr size_t kMaxHeadReads = 16;

struct HeadRead {
  int fd = -1;               // a regular file, open for reading; the caller's to close
  uint8_t* bytes = nullptr;  // kHeadSize bytes
  // Bytes read from offset 0, fewer than kHeadSize only where the file ends; -1 when the read
  // failed or was cut short.
  int result = -1;
  void* owner = nullptr;  // the caller's, for telling finished reads apart
};

// Reads `size` bytes at `offset` of the file open on `fd`, fewer only where the file ends or a
// read fails (then `failed` is set): a read may return fewer bytes than asked for before the
// end, as POSIX allows and some network and FUSE file systems do. Returns how many it read.
size_t ReadWhole(int fd, uint8_t* out, size_t size, uint64_t offset, bool* failed);

// Opens `count` files (at most kMaxHeadReads), each `names[i]` relative to `directoryFds[i]`,
// with `flags`, through the calling thread's ring, while its reads go on: `fds[i]` gets the
// descriptor, or -1. Returns false where the thread cannot (no io_uring, batched reads off, or
// the ring failed meanwhile): then the caller opens, and closes, them itself, and any descriptor
// in `fds` is the caller's to close.
bool OpenFilesBatched(const int* directoryFds, const char* const* names, int flags, size_t count,
                      int* fds);

// Reads the heads of `count` (at most kMaxHeadReads) files; safe on any thread. Returns true
// where some of them were known to wait for the disk, not being in the cache.
bool ReadHeads(HeadRead* const* reads, size_t count);

// The most reads a thread keeps in flight.
constexpr size_t kMaxHeadReadsOut = 64;

// Starts reading the heads of `count` files on the calling thread's ring, to be taken back by
// TakeHeadReads; each HeadRead, and its descriptor, must stay put until then. Returns false,
// starting none, where the thread cannot keep reads in flight (no io_uring, batched reads turned
// off) or would have more than kMaxHeadReadsOut out. Sets `waited` where some were not served
// from the cache at once.
bool StartHeadReads(HeadRead* const* reads, size_t count, bool* waited);

// Reads started on this thread and not taken back yet.
size_t HeadReadsOut();

// Puts up to `most` finished reads of this thread in `finished` and returns how many. Where
// `wait` and none has finished, waits for one, if any is out.
size_t TakeHeadReads(HeadRead** finished, size_t most, bool wait);

// Gives back the calling thread's ring, where it has no reads out.
void EndHeadReads();

// Turns the batched reads off (or on again) for the whole process. They are on where the kernel
// allows, and go off for good, by themselves, when a ring fails otherwise than for a moment.
void SetHeadReadsBatched(bool batched);
