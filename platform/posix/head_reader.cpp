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

void ReadHeadsOneByOne(HeadRead* reads, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const int fd = openat(reads[i].directoryFd, reads[i].name, kContentOpenFlags);
    reads[i].result = fd < 0 ? -1 : ReadHead(fd, reads[i].bytes);
    if (fd >= 0) close(fd);
  }
}

#ifdef LUMO_HAVE_LIBURING

// One ring per thread. Each file is opened into a slot of the ring's own table of
// descriptors, then read and closed by linked requests, so no descriptor of the process is
// spent. A batch is read and waited for at once, in slots of its own; reads kept in flight
// each hold a slot of the others until their close completes. A thread uses one way or the
// other: a batch is refused while reads are in flight, whose completions it would take.
class HeadRing {
 public:
  ~HeadRing() {
    if (state_ == State::kReady || state_ == State::kFailed) io_uring_queue_exit(&ring_);
  }

  // Opens every file first, then reads them all in one go: the reads then reach the disk
  // together rather than each after its open. Sets `waited` where a read was not served from
  // the cache at once.
  bool Read(HeadRead* reads, size_t count, bool* waited) {
    if (state_ == State::kUnknown) SetUp();
    if (state_ != State::kReady || freeSlots_.size() < kBatchSlots) return false;
    for (size_t i = 0; i < count; ++i) {
      io_uring_sqe* open = io_uring_get_sqe(&ring_);
      // A descriptor in the ring's table is never inherited, and the kernel refuses O_CLOEXEC.
      io_uring_prep_openat_direct(open, reads[i].directoryFd, reads[i].name,
                                  kContentOpenFlags & ~O_CLOEXEC, 0, kBatchSlots + i);
      open->user_data = i;
      reads[i].result = -1;
    }
    bool opened[kMaxHeadReads] = {};
    if (!Complete(count, [&](uint64_t i, int result) { opened[i] = result >= 0; })) return false;
    unsigned pending = 0;
    for (size_t i = 0; i < count; ++i) {
      if (!opened[i]) continue;
      io_uring_sqe* read = io_uring_get_sqe(&ring_);
      io_uring_prep_read(read, static_cast<int>(kBatchSlots + i), reads[i].bytes, kHeadSize, 0);
      read->flags |= IOSQE_FIXED_FILE | IOSQE_IO_LINK;
      read->user_data = i * 2;
      io_uring_sqe* closing = io_uring_get_sqe(&ring_);
      io_uring_prep_close_direct(closing, static_cast<unsigned>(kBatchSlots + i));
      closing->user_data = i * 2 + 1;
      pending += 2;
    }
    return Complete(
        pending,
        [&](uint64_t tag, int result) {
          if (tag % 2 == 0 && result >= 0) reads[tag / 2].result = result;
        },
        waited);
  }

  // Each file is opened into a free slot, read and closed by three linked requests; they
  // complete later, in any order. A request linked after another is issued when the thread
  // next enters the kernel for its completions, so that is done at once: a read of what the
  // cache holds is then complete.
  bool Start(HeadRead* const* reads, size_t count, bool* waited) {
    if (state_ == State::kUnknown) SetUp();
    if (state_ != State::kReady || out_ + count > kMaxHeadReadsOut || count > kMaxHeadReads) {
      return false;
    }
    // A slot is free once its close is done, right after its read.
    while (freeSlots_.size() < count) Await();
    unsigned started[kMaxHeadReads];
    for (size_t i = 0; i < count; ++i) {
      const unsigned slot = freeSlots_.back();
      freeSlots_.pop_back();
      started[i] = slot;
      slots_[slot] = {reads[i], 3, false};
      reads[i]->result = -1;
      io_uring_sqe* open = io_uring_get_sqe(&ring_);
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
    out_ += count;
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

  size_t Out() const { return out_; }

  size_t Take(HeadRead** finished, size_t most, bool wait) {
    if (out_ == 0) return 0;
    // Completions that came from the disk are only posted when the thread enters the kernel.
    if (pendingReads_ > 0 && !wait) io_uring_get_events(&ring_);
    Drain();
    while (wait && finished_.empty() && pendingReads_ > 0) Await();
    const size_t count = std::min(most, finished_.size());
    for (size_t i = 0; i < count; ++i) finished[i] = finished_[finished_.size() - count + i];
    finished_.resize(finished_.size() - count);
    out_ -= count;
    return count;
  }

 private:
  enum Kind : uint64_t { kOpening, kReading, kClosing };
  static constexpr unsigned kBatchSlots = kMaxHeadReadsOut;  // the batches' slots come after
  // Room for every request of the reads out and of a batch.
  static constexpr unsigned kRingEntries = 4 * (kMaxHeadReadsOut + kMaxHeadReads);

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

  // Takes every completion there is of the reads started: a read is finished at its own, its
  // slot free again at the last of its three.
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

  enum class State { kUnknown, kReady, kRefused, kFailed };

  void SetUp() {
    state_ = State::kRefused;
    io_uring_params params{};
    params.flags = IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN;
    if (io_uring_queue_init_params(kRingEntries, &ring_, &params) < 0) {
      // Kernels before 6.1 know neither flag.
      params = io_uring_params{};
      if (io_uring_queue_init_params(kRingEntries, &ring_, &params) < 0) return;
    }
    if (io_uring_register_files_sparse(&ring_, kBatchSlots + kMaxHeadReads) < 0) {
      io_uring_queue_exit(&ring_);
      return;
    }
    for (unsigned slot = kBatchSlots; slot-- > 0;) freeSlots_.push_back(slot);
    state_ = State::kReady;
  }

  // Submits what is queued and hands each of the `count` completions to `take`. Where
  // `waited` is given, sets it when not all of them were complete as soon as submitted: what
  // the cache holds is read during the submission.
  template <typename Take>
  bool Complete(unsigned count, Take take, bool* waited = nullptr) {
    if (count == 0) return true;
    int submitted;
    do {
      submitted =
          waited != nullptr ? io_uring_submit(&ring_) : io_uring_submit_and_wait(&ring_, count);
    } while (submitted == -EINTR);
    if (submitted < 0) return GiveUp();
    if (waited != nullptr) *waited = ReadsReady() < count / 2;
    while (count > 0) {
      io_uring_cqe* cqe = nullptr;
      const int got = io_uring_wait_cqe(&ring_, &cqe);
      if (got == -EINTR) continue;
      if (got < 0) return GiveUp();
      take(cqe->user_data, cqe->res);
      io_uring_cqe_seen(&ring_, cqe);
      --count;
    }
    return true;
  }

  // How many reads have completed, not yet taken. A linked close is issued only once its read
  // has completed, so is not counted.
  unsigned ReadsReady() {
    unsigned ready = 0;
    unsigned head;
    io_uring_cqe* cqe;
    io_uring_for_each_cqe(&ring_, head, cqe) {
      if (cqe->user_data % 2 == 0) ++ready;
    }
    return ready;
  }

  // After a failure the ring's state is not known, and requests may still be out on it: this
  // thread reads the plain way from now on, and the ring stays until the thread ends.
  bool GiveUp() {
    state_ = State::kFailed;
    return false;
  }

  struct Slot {
    HeadRead* read;
    int completions;  // still to come of the slot's three requests
    bool done;        // read, or failed
  };

  io_uring ring_{};
  State state_ = State::kUnknown;
  Slot slots_[kMaxHeadReadsOut] = {};
  std::vector<unsigned> freeSlots_;
  std::vector<HeadRead*> finished_;  // read, not taken back yet
  size_t out_ = 0;                   // started, not taken back
  size_t pendingReads_ = 0;          // started, not read yet
};

thread_local HeadRing tRing;

#endif

}  // namespace

bool ReadHeads(HeadRead* reads, size_t count) {
#ifdef LUMO_HAVE_LIBURING
  bool waited = false;
  if (gBatched.load(std::memory_order_relaxed) && tRing.Read(reads, count, &waited)) return waited;
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
