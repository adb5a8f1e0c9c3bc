#include "platform/posix/head_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <vector>

#ifdef LUMO_HAVE_LIBURING
#include <liburing.h>
#endif

namespace {

std::atomic<bool> gBatched{true};

// From a freshly opened descriptor, so from the start; read rather than pread, which a file
// that became a FIFO since its status was taken would refuse where io_uring reads it.
int ReadHead(int fd, uint8_t* bytes) {
  size_t got = 0;
  while (got < kHeadSize) {
    const ssize_t n = read(fd, bytes + got, kHeadSize - got);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += static_cast<size_t>(n);
  }
  return static_cast<int>(got);
}

void ReadHeadsOneByOne(HeadRead* const* reads, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const int fd = openat(reads[i]->directoryFd, reads[i]->name, kContentOpenFlags);
    reads[i]->result = fd < 0 ? -1 : ReadHead(fd, reads[i]->bytes);
    if (fd >= 0) close(fd);
  }
}

#ifdef LUMO_HAVE_LIBURING

// One ring per thread. Each file is opened into a free slot of the ring's own table of
// descriptors, so no descriptor of the process is spent, then read and closed, by three linked
// requests submitted at once; they complete later, in any order. A slot is free again once its
// close has completed.
class HeadRing {
 public:
  ~HeadRing() {
    if (ready_) io_uring_queue_exit(&ring_);
  }

  // A request linked after another is issued when the thread next enters the kernel for its
  // completions, so that is done at once: a read of what the cache holds is then complete.
  bool Start(HeadRead* const* reads, size_t count, bool* waited) {
    if (!setUp_) SetUp();
    if (!ready_ || Out() + count > kMaxHeadReadsOut || count > kMaxHeadReads) return false;
    while (freeSlots_.size() < count) Await();
    unsigned started[kMaxHeadReads];
    for (size_t i = 0; i < count; ++i) {
      const unsigned slot = freeSlots_.back();
      freeSlots_.pop_back();
      started[i] = slot;
      slots_[slot] = {reads[i], 3, false};
      reads[i]->result = -1;
      io_uring_sqe* open = io_uring_get_sqe(&ring_);
      // A descriptor in the ring's table is never inherited, and the kernel refuses O_CLOEXEC.
      io_uring_prep_openat_direct(open, reads[i]->directoryFd, reads[i]->name,
                                  kContentOpenFlags & ~O_CLOEXEC, 0, slot);
      open->flags |= IOSQE_IO_LINK;
      open->user_data = Tag(slot, kOpening);
      io_uring_sqe* read = io_uring_get_sqe(&ring_);
      io_uring_prep_read(read, static_cast<int>(slot), reads[i]->bytes, kHeadSize, 0);
      // The close follows even a short read, which ends an ordinary link.
      read->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
      read->user_data = Tag(slot, kReading);
      io_uring_sqe* closing = io_uring_get_sqe(&ring_);
      io_uring_prep_close_direct(closing, slot);
      closing->user_data = Tag(slot, kClosing);
    }
    pendingReads_ += count;
    for (;;) {
      const int submitted = io_uring_submit_and_get_events(&ring_);
      if (submitted >= 0) break;
      Survive(submitted);
      Drain();
    }
    Drain();
    unsigned ready = 0;
    for (size_t i = 0; i < count; ++i) ready += slots_[started[i]].done;
    *waited = ready < count / 2;
    return true;
  }

  size_t Out() const { return pendingReads_ + finished_.size(); }

  size_t Take(HeadRead** finished, size_t most, bool wait) {
    if (Out() == 0) return 0;  // the ring may not even be set up
    // Completions that came from the disk are only posted when the thread enters the kernel.
    if (pendingReads_ > 0 && !wait) io_uring_get_events(&ring_);
    Drain();
    while (wait && finished_.empty() && pendingReads_ > 0) Await();
    const size_t count = std::min(most, finished_.size());
    for (size_t i = 0; i < count; ++i) finished[i] = finished_[finished_.size() - count + i];
    finished_.resize(finished_.size() - count);
    return count;
  }

 private:
  enum Kind : uint64_t { kOpening, kReading, kClosing };
  // The completion queue, twice as long, holds the three completions of every read out.
  static constexpr unsigned kRingEntries = 2 * kMaxHeadReadsOut;

  void SetUp() {
    setUp_ = true;
    io_uring_params params{};
    params.flags = IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN;
    if (io_uring_queue_init_params(kRingEntries, &ring_, &params) < 0) {
      // Kernels before 6.1 know neither flag.
      params = io_uring_params{};
      if (io_uring_queue_init_params(kRingEntries, &ring_, &params) < 0) return;
    }
    if (io_uring_register_files_sparse(&ring_, kMaxHeadReadsOut) < 0) {
      io_uring_queue_exit(&ring_);
      return;
    }
    for (unsigned slot = kMaxHeadReadsOut; slot-- > 0;) freeSlots_.push_back(slot);
    ready_ = true;
  }

  // Reads out may still land in their buffers: when the ring fails otherwise than for a moment,
  // stopping is the only safe way.
  static void Survive(int error) {
    if (error != -EINTR && error != -EAGAIN && error != -EBUSY) abort();
  }

  // Waits for a completion and takes it with any others.
  void Await() {
    io_uring_cqe* cqe = nullptr;
    const int got = io_uring_wait_cqe(&ring_, &cqe);
    if (got < 0) Survive(got);
    Drain();
  }

  static uint64_t Tag(unsigned slot, Kind kind) { return uint64_t{slot} << 2 | kind; }

  // Takes every completion there is: a read is finished at its own, its slot free again at the
  // last of its three.
  void Drain() {
    unsigned head;
    unsigned seen = 0;
    io_uring_cqe* cqe;
    io_uring_for_each_cqe(&ring_, head, cqe) {
      ++seen;
      const unsigned slot = static_cast<unsigned>(cqe->user_data >> 2);
      Slot& at = slots_[slot];
      if ((cqe->user_data & 3) == kReading) {
        // Where the open failed, the read is cancelled.
        if (cqe->res >= 0) at.read->result = cqe->res;
        at.done = true;
        finished_.push_back(at.read);
        --pendingReads_;
      }
      if (--at.completions == 0) freeSlots_.push_back(slot);
    }
    io_uring_cq_advance(&ring_, seen);
  }

  struct Slot {
    HeadRead* read;
    int completions;  // still to come of the slot's three requests
    bool done;        // read, or failed
  };

  io_uring ring_{};
  bool setUp_ = false;
  bool ready_ = false;  // set up, where the kernel allowed it
  Slot slots_[kMaxHeadReadsOut] = {};
  std::vector<unsigned> freeSlots_;
  std::vector<HeadRead*> finished_;  // read, not taken back yet
  size_t pendingReads_ = 0;          // started, not read yet
};

thread_local HeadRing tRing;

#endif

}  // namespace

bool ReadHeads(HeadRead* const* reads, size_t count) {
#ifdef LUMO_HAVE_LIBURING
  // Reads the thread keeps in flight would be taken back with these.
  bool waited = false;
  if (tRing.Out() == 0 && StartHeadReads(reads, count, &waited)) {
    HeadRead* back[kMaxHeadReads];
    for (size_t taken = 0; taken < count;) taken += tRing.Take(back, kMaxHeadReads, true);
    return waited;
  }
#endif
  // Read one by one, a file's wait is not seen.
  ReadHeadsOneByOne(reads, count);
  return false;
}

bool StartHeadReads(HeadRead* const* reads, size_t count, bool* waited) {
#ifdef LUMO_HAVE_LIBURING
  if (count == 0) return true;
  return gBatched.load(std::memory_order_relaxed) && tRing.Start(reads, count, waited);
#else
  (void)reads;
  (void)count;
  (void)waited;
  return false;
#endif
}

size_t HeadReadsOut() {
#ifdef LUMO_HAVE_LIBURING
  return tRing.Out();
#else
  return 0;
#endif
}

size_t TakeHeadReads(HeadRead** finished, size_t most, bool wait) {
#ifdef LUMO_HAVE_LIBURING
  return tRing.Take(finished, most, wait);
#else
  (void)finished;
  (void)most;
  (void)wait;
  return 0;
#endif
}

void SetHeadReadsBatched(bool batched) {
  gBatched.store(batched, std::memory_order_relaxed);
}
