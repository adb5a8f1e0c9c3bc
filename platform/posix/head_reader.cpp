#include "platform/posix/head_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>

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
// descriptors, then read and closed by two linked requests, so no descriptor of the process is
// spent.
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
    if (state_ != State::kReady) return false;
    for (size_t i = 0; i < count; ++i) {
      io_uring_sqe* open = io_uring_get_sqe(&ring_);
      // A descriptor in the ring's table is never inherited, and the kernel refuses O_CLOEXEC.
      io_uring_prep_openat_direct(open, reads[i].directoryFd, reads[i].name,
                                  kContentOpenFlags & ~O_CLOEXEC, 0, static_cast<unsigned>(i));
      open->user_data = i;
      reads[i].result = -1;
    }
    bool opened[kMaxHeadReads] = {};
    if (!Complete(count, [&](uint64_t i, int result) { opened[i] = result >= 0; })) return false;
    unsigned pending = 0;
    for (size_t i = 0; i < count; ++i) {
      if (!opened[i]) continue;
      io_uring_sqe* read = io_uring_get_sqe(&ring_);
      io_uring_prep_read(read, static_cast<int>(i), reads[i].bytes, kHeadSize, 0);
      read->flags |= IOSQE_FIXED_FILE | IOSQE_IO_LINK;
      read->user_data = i * 2;
      io_uring_sqe* closing = io_uring_get_sqe(&ring_);
      io_uring_prep_close_direct(closing, static_cast<unsigned>(i));
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

 private:
  enum class State { kUnknown, kReady, kRefused, kFailed };

  void SetUp() {
    state_ = State::kRefused;
    io_uring_params params{};
    params.flags = IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN;
    if (io_uring_queue_init_params(kMaxHeadReads * 4, &ring_, &params) < 0) {
      // Kernels before 6.1 know neither flag.
      params = io_uring_params{};
      if (io_uring_queue_init_params(kMaxHeadReads * 4, &ring_, &params) < 0) return;
    }
    if (io_uring_register_files_sparse(&ring_, kMaxHeadReads) < 0) {
      io_uring_queue_exit(&ring_);
      return;
    }
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

  io_uring ring_{};
  State state_ = State::kUnknown;
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

void SetHeadReadsBatched(bool batched) {
  gBatched.store(batched, std::memory_order_relaxed);
}
