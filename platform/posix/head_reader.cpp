#include "platform/posix/head_reader.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include "platform/posix/thread_object.h"

#ifdef LUMO_HAVE_LIBURING
#include <liburing.h>
#endif

namespace {

std::atomic<bool> gBatched{true};

// Reads on from byte `got` of the head.
int ReadRest(int fd, uint8_t* bytes, size_t got) {
  bool failed = false;
  got += ReadWhole(fd, bytes + got, kHeadSize - got, got, &failed);
  return failed ? -1 : static_cast<int>(got);
}

void ReadHeadsOneByOne(HeadRead* const* reads, size_t count) {
  for (size_t i = 0; i < count; ++i) reads[i]->result = ReadRest(reads[i]->fd, reads[i]->bytes, 0);
}

bool Batched() {
  return gBatched.load(std::memory_order_relaxed);
}

#ifdef LUMO_HAVE_LIBURING

// The buffers of the rings given up, which the kernel may still write into: kept to the end of
// the run, where they can be found.
struct Abandoned {
  uint8_t (*buffers)[kHeadSize];
  Abandoned* next;
};
std::atomic<Abandoned*> gAbandoned{nullptr};

void Abandon(uint8_t (*buffers)[kHeadSize]) {
  auto* kept = new (std::nothrow) Abandoned{buffers, gAbandoned.load()};
  while (kept != nullptr && !gAbandoned.compare_exchange_weak(kept->next, kept)) {
  }
}

// One ring per thread; its reads complete later, in any order. The kernel reads into the ring's
// own buffers, copied out as each read completes, so that a ring that fails can be left behind
// with whatever it still has in flight without anything of the caller's being written later.
class HeadRing {
 public:
  ~HeadRing() {
    if (!ready_) return;
    io_uring_queue_exit(&ring_);
    delete[] buffers_;
  }

  // A read is issued when the thread next enters the kernel for its completions, so that is
  // done at once: a read of what the cache holds is then complete.
  bool Start(HeadRead* const* reads, size_t count, bool* waited) {
    if (!setUp_) SetUp();
    if (!ready_ || Out() + count > kMaxHeadReadsOut || count > kMaxHeadReads) return false;
    unsigned started[kMaxHeadReads];
    for (size_t i = 0; i < count; ++i) {
      const unsigned slot = freeSlots_.back();
      freeSlots_.pop_back();
      started[i] = slot;
      slots_[slot] = reads[i];
      reads[i]->result = -1;
      io_uring_sqe* read = io_uring_get_sqe(&ring_);
      io_uring_prep_read(read, reads[i]->fd, buffers_[slot], kHeadSize, 0);
      read->user_data = Tag(kReading, slot);
    }
    pendingReads_ += count;
    Submit();
    unsigned ready = 0;
    for (size_t i = 0; i < count; ++i) ready += slots_[started[i]] == nullptr;
    *waited = ready < count / 2;
    return true;
  }

  size_t Out() const { return pendingReads_ + finished_.size(); }

  // Opens the files and waits for them, while reads go on.
  bool Open(const int* directoryFds, const char* const* names, int flags, size_t count, int* fds) {
    return RunBatch(count, fds, [&](io_uring_sqe* sqe, size_t i) {
      io_uring_prep_openat(sqe, directoryFds[i], names[i], flags, 0);
    });
  }

  size_t Take(HeadRead** finished, size_t most, bool wait) {
    if (Out() == 0) return 0;  // the ring may not even be set up
    // Completions that came from the disk are only posted when the thread enters the kernel.
    if (pendingReads_ > 0 && !wait) {
      int tries = 0;
      const int got = io_uring_get_events(&ring_);
      if (got < 0) Survive(got, &tries);
    }
    Drain();
    while (wait && finished_.empty() && pendingReads_ > 0) Await();
    const size_t count = std::min(most, finished_.size());
    for (size_t i = 0; i < count; ++i) finished[i] = finished_[finished_.size() - count + i];
    finished_.resize(finished_.size() - count);
    return count;
  }

 private:
  enum Kind : uint64_t { kReading, kBatch };
  static constexpr unsigned kRingEntries = kMaxHeadReadsOut;
  // A ring that refuses this many times in a row, each time for a moment, is taken as failed.
  static constexpr int kMostTries = 64;

  void SetUp() {
    setUp_ = true;
    io_uring_params params{};
    params.flags = IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN;
    if (io_uring_queue_init_params(kRingEntries, &ring_, &params) < 0) {
      // Kernels before 6.1 know neither flag.
      params = io_uring_params{};
      if (io_uring_queue_init_params(kRingEntries, &ring_, &params) < 0) return;
    }
    // Nothing grows once the ring is set up.
    buffers_ = new (std::nothrow) uint8_t[kMaxHeadReadsOut][kHeadSize]();
    try {
      freeSlots_.reserve(kMaxHeadReadsOut);
      finished_.reserve(kMaxHeadReadsOut);
    } catch (const std::bad_alloc&) {
      delete[] buffers_;
      buffers_ = nullptr;
    }
    if (buffers_ == nullptr) {
      io_uring_queue_exit(&ring_);
      return;
    }
    for (unsigned slot = kMaxHeadReadsOut; slot-- > 0;) freeSlots_.push_back(slot);
    ready_ = true;
  }

  // A ring that fails otherwise than for a moment is given up, and the batched reads with it for
  // the rest of the run: the reads still out are taken as failed, so that they are done again
  // another way, and the ring and its buffers are left as they are, since the kernel may still
  // write into them.
  void Survive(int error, int* tries) {
    const bool transient = error == -EINTR || error == -EAGAIN || error == -EBUSY;
    if (transient && ++*tries < kMostTries) return;
    gBatched.store(false, std::memory_order_relaxed);
    ready_ = false;
    Abandon(buffers_);
    for (HeadRead*& read : slots_) {
      if (read == nullptr) continue;
      read->result = -1;
      finished_.push_back(read);
      read = nullptr;
    }
    pendingReads_ = 0;
  }

  static uint64_t Tag(Kind kind, size_t index) { return uint64_t{kind} << 32 | index; }

  // Submits what is prepared and takes the completions there are.
  void Submit() {
    for (int tries = 0; ready_;) {
      const int submitted = io_uring_submit_and_get_events(&ring_);
      if (submitted >= 0) break;
      Survive(submitted, &tries);
      Drain();
    }
    Drain();
  }

  // Issues `count` requests made by `prepare` and waits for them all; each result, or -1 where
  // it failed, goes to `results`. Returns false where none was issued or the ring failed.
  template <typename Prepare>
  bool RunBatch(size_t count, int* results, Prepare prepare) {
    if (!setUp_) SetUp();
    if (!ready_ || count > kMaxHeadReads || io_uring_sq_space_left(&ring_) < count) return false;
    for (size_t i = 0; i < count; ++i) {
      results[i] = -1;
      io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
      prepare(sqe, i);
      sqe->user_data = Tag(kBatch, i);
    }
    batchResults_ = results;
    batchLeft_ = count;
    Submit();
    while (batchLeft_ > 0 && ready_) Await();
    batchResults_ = nullptr;
    // A ring that failed meanwhile may still complete what is left, in the kernel's own time.
    return batchLeft_ == 0;
  }

  // Waits for a completion and takes it with any others.
  void Await() {
    io_uring_cqe* cqe = nullptr;
    for (int tries = 0; ready_;) {
      const int got = io_uring_wait_cqe(&ring_, &cqe);
      if (got >= 0) break;
      Survive(got, &tries);
    }
    Drain();
  }

  // Takes every completion there is.
  void Drain() {
    if (!ready_) return;
    unsigned head;
    unsigned seen = 0;
    io_uring_cqe* cqe;
    io_uring_for_each_cqe(&ring_, head, cqe) {
      ++seen;
      if (cqe->user_data >> 32 == kBatch) {
        batchResults_[cqe->user_data & 0xffffffff] = cqe->res >= 0 ? cqe->res : -1;
        --batchLeft_;
        continue;
      }
      const auto slot = static_cast<unsigned>(cqe->user_data);
      HeadRead* read = slots_[slot];
      if (cqe->res >= 0) {
        const auto got = std::min(static_cast<size_t>(cqe->res), kHeadSize);
        memcpy(read->bytes, buffers_[slot], got);
        read->result = ReadRest(read->fd, read->bytes, got);
      }
      slots_[slot] = nullptr;
      finished_.push_back(read);
      --pendingReads_;
      freeSlots_.push_back(slot);
    }
    io_uring_cq_advance(&ring_, seen);
  }

  io_uring ring_{};
  bool setUp_ = false;
  bool ready_ = false;  // set up, where the kernel allowed it, and not failed since
  uint8_t (*buffers_)[kHeadSize] = nullptr;
  HeadRead* slots_[kMaxHeadReadsOut] = {};  // the read out in each, or nullptr
  std::vector<unsigned> freeSlots_;
  std::vector<HeadRead*> finished_;  // read, not taken back yet
  size_t pendingReads_ = 0;          // started, not read yet
  int* batchResults_ = nullptr;      // of the batch being waited for
  size_t batchLeft_ = 0;             // its requests not completed yet
};

// The calling thread's ring, or nullptr where memory runs out.
HeadRing* Ring() {
  return ThreadObject<HeadRing>();
}

#endif

}  // namespace

size_t ReadWhole(int fd, uint8_t* out, size_t size, uint64_t offset, bool* failed) {
  size_t got = 0;
  while (got < size && offset + got <= static_cast<uint64_t>(INT64_MAX)) {
    const ssize_t n = pread(fd, out + got, size - got, static_cast<off_t>(offset + got));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      *failed = true;
      break;
    }
    got += static_cast<size_t>(n);
  }
  return got;
}

bool ReadHeads(HeadRead* const* reads, size_t count) {
#ifdef LUMO_HAVE_LIBURING
  // Reads the thread keeps in flight would be taken back with these.
  bool waited = false;
  HeadRing* ring = Ring();
  if (ring != nullptr && ring->Out() == 0 && StartHeadReads(reads, count, &waited)) {
    HeadRead* back[kMaxHeadReads];
    for (size_t taken = 0; taken < count;) taken += ring->Take(back, kMaxHeadReads, true);
    return waited;
  }
#endif
  // Read one by one, a file's wait is not seen.
  ReadHeadsOneByOne(reads, count);
  return false;
}

bool OpenFilesBatched(const int* directoryFds, const char* const* names, int flags, size_t count,
                      int* fds) {
#ifdef LUMO_HAVE_LIBURING
  HeadRing* ring = Batched() ? Ring() : nullptr;
  return ring != nullptr && ring->Open(directoryFds, names, flags, count, fds);
#else
  (void)directoryFds;
  (void)names;
  (void)flags;
  (void)count;
  (void)fds;
  return false;
#endif
}

bool StartHeadReads(HeadRead* const* reads, size_t count, bool* waited) {
#ifdef LUMO_HAVE_LIBURING
  if (count == 0) return true;
  HeadRing* ring = Batched() ? Ring() : nullptr;
  return ring != nullptr && ring->Start(reads, count, waited);
#else
  (void)reads;
  (void)count;
  (void)waited;
  return false;
#endif
}

size_t HeadReadsOut() {
#ifdef LUMO_HAVE_LIBURING
  HeadRing* ring = Ring();
  return ring != nullptr ? ring->Out() : 0;
#else
  return 0;
#endif
}

size_t TakeHeadReads(HeadRead** finished, size_t most, bool wait) {
#ifdef LUMO_HAVE_LIBURING
  HeadRing* ring = Ring();
  return ring != nullptr ? ring->Take(finished, most, wait) : 0;
#else
  (void)finished;
  (void)most;
  (void)wait;
  return 0;
#endif
}

void EndHeadReads() {
#ifdef LUMO_HAVE_LIBURING
  const HeadRing* ring = ThreadObjectIfAny<HeadRing>();
  if (ring != nullptr && ring->Out() == 0) DropThreadObject<HeadRing>();
#endif
}

void SetHeadReadsBatched(bool batched) {
  gBatched.store(batched, std::memory_order_relaxed);
}
