#include "platform/posix/fetch_queue.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>

#include "platform/posix/read_ahead_budget.h"
#include "platform/posix/small_thread.h"
#include "platform/posix/tree_scout.h"
#include "platform/read_ahead.h"

namespace {

// A resource buffer larger than this is not kept for the next request.
constexpr size_t kKeptResourceCapacity = 4 * 1024;

// A listing takes as long as a few details, and the walk waits for the whole batch it is in, so
// a batch of listings holds nothing else; with a warm cache, where the walk is soon after each,
// it holds one.
constexpr size_t kListingsPerBatch = 2;

// With a warm cache a batch takes tens of microseconds, less than sleeping and being woken
// again costs here: a thread that waits for a request, or for work, polls for this long before
// it sleeps, looking at the clock every so many polls.
constexpr int64_t kPollNanoseconds = 200000;
constexpr int kPollsPerClockReading = 32;

// A batch that takes longer than this, and slept, has waited on the disk; after so many such
// batches (each after a slow one) one more worker is let run for each.
constexpr int64_t kWaitedNanoseconds = 1000000;
constexpr int kSlowBatches = 4;

// The most details served together once the disk is seen to be slow.
constexpr size_t kSlowDiskBatch = 8;

// The most descriptors the walk's thread leaves open to close while it waits.
constexpr size_t kIdleCloses = 64;

int64_t Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// How often the calling thread has gone to sleep.
long Sleeps() {
  rusage usage;
  return getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nvcsw : 0;
}

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Counts polls, and says when polling has gone on long enough.
class PollTimer {
 public:
  bool Expired() {
    if (++polls_ % kPollsPerClockReading != 0) return false;
    if (start_ == 0) start_ = Now();
    return Now() - start_ > kPollNanoseconds;
  }

 private:
  int polls_ = 0;
  int64_t start_ = 0;
};

class FetchPool {
 public:
  // The queues never hold more than the window, so they never grow once the run has begun: the
  // walk's memory running out does not end the run there.
  FetchPool() {
    for (std::vector<FetchRequest*>* requests :
         {&free_, &queue_, &listings_, &pending_, &pendingListings_}) {
      requests->reserve(kFetchWindow);
    }
    idleCloses_.reserve(kIdleCloses);
  }

  // What CloseWhenIdle left open goes with the process.
  ~FetchPool() { EndWorkers(); }

  void SetThreads(int count, bool slowDisk) {
    threads_ = std::max(count, 0);
    ResetAheadBudget();
    std::lock_guard<std::mutex> lock(mutex_);
    if (workers_.capacity() < static_cast<size_t>(threads_)) workers_.reserve(threads_);
    stopped_ = false;
    limit_ = threads_;
    allowed_ = slowDisk ? threads_ : std::min(threads_, 1);
    LetTreeScout(slowDisk ? threads_ : 0);
  }

  bool On() const { return threads_ > 0 && !stopped_; }

  // The free requests are the walk's thread's alone, and the workers never look at one that is
  // done, so taking and giving back need no lock.
  FetchRequest* Acquire() {
    if (!On()) return nullptr;
    if (free_.empty()) {
      if (slots_.size() >= kFetchWindow) return nullptr;
      slots_.emplace_back();
      free_.push_back(&slots_.back());  // a deque keeps the addresses
    }
    FetchRequest* slot = free_.back();
    free_.pop_back();
    slot->state.store(FetchState::kQueued, std::memory_order_relaxed);  // Submit queues it
    return slot;
  }

  // Requests are queued a batch at a time, or when the walk is about to wait for one, so that
  // the lock is taken once per batch. Listings are served ahead of the rest, since the walk
  // names nothing further in a directory until it has its listing.
  void Submit(FetchRequest* request) {
    std::vector<FetchRequest*>& pending = request->child != nullptr ? pendingListings_ : pending_;
    pending.push_back(request);
    if (pending.size() >= kFetchBatch) Flush();
  }

  void Flush() {
    if (pending_.empty() && pendingListings_.empty()) return;
    bool wake;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      wake = QueuePending() && WorkerWanted();
    }
    if (wake) work_.notify_one();
  }

  void Await(FetchRequest* request) {
    FetchRequest* batch[kFetchBatch];
    for (;;) {
      if (request->state.load(std::memory_order_acquire) == FetchState::kDone) return;
      std::unique_lock<std::mutex> lock(mutex_);
      QueuePending();

      // The walk needs the request now: queued, it is served here with what is queued behind
      // it. Being served by a worker, the walk's thread serves the next batch meanwhile.
      size_t count = 0;
      if (request->state.load(std::memory_order_relaxed) == FetchState::kQueued) {
        // A listing takes longer than a whole batch of details: it is served alone.
        const bool listing = request->child != nullptr;
        std::vector<FetchRequest*>& queue = listing ? listings_ : queue_;
        auto it = std::find(queue.begin(), queue.end(), request);
        const size_t most = listing ? 1 : kFetchBatch;
        for (; it != queue.end() && count < most; it = queue.erase(it)) {
          batch[count++] = *it;
        }
        Count();
      } else {
        // With a warm cache the request is done within microseconds: a whole batch served
        // meanwhile would keep the walk from it far longer.
        count = TakeBatch(batch, allowed_ > 1 ? kSlowDiskBatch : 1);
      }
      if (count == 0) break;
      Serve(batch, count, &lock, false, false);
    }
    WaitUntilDone(request);
  }

  void Cancel(FetchRequest* request) {
    request->cancelled.store(true, std::memory_order_relaxed);
    if (request->state.load(std::memory_order_acquire) == FetchState::kDone) return;
    if (TakeBack(&pending_, request) || TakeBack(&pendingListings_, request)) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (TakeBack(&queue_, request) || TakeBack(&listings_, request)) {
        Count();
        return;
      }
    }
    WaitUntilDone(request);
  }

  // The workers end too, once done with what they have begun: their stacks and rings are memory
  // the walk may need.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
      QueuePending();
      for (std::vector<FetchRequest*>* queue : {&queue_, &listings_}) {
        for (FetchRequest* request : *queue) {
          request->cancelled.store(true, std::memory_order_relaxed);
          request->state.store(FetchState::kDone, std::memory_order_release);
        }
        queue->clear();
      }
      Count();
    }
    EndWorkers();
  }

  void Free() {
    if (free_.size() != slots_.size()) return;
    free_.clear();
    std::deque<FetchRequest>().swap(slots_);
  }

  // Closing a directory costs about as much as listing a small one, and the walk's thread often
  // has a moment to spare while it waits.
  void CloseWhenIdle(int fd) {
    if (threads_ == 0 || stopped_ || idleCloses_.size() >= kIdleCloses) {
      close(fd);
      ReturnAheadDescriptor();
    } else {
      idleCloses_.push_back(fd);
    }
  }

  void CloseIdle() {
    while (!idleCloses_.empty()) CloseOneIdle();
  }

  bool Served(const FetchRequest* request) const {
    return request->state.load(std::memory_order_acquire) == FetchState::kDone;
  }

  void Release(FetchRequest* request) {
    request->recorded = false;
    request->listed = false;
    request->child = nullptr;
    request->cancelled.store(false, std::memory_order_relaxed);
    ReleaseAheadBytes(request->heldBytes);
    request->heldBytes = 0;
    if (request->resource.capacity() > kKeptResourceCapacity) {
      std::vector<uint8_t>().swap(request->resource);
    }
    request->resource.clear();
    request->state.store(FetchState::kFree, std::memory_order_relaxed);
    free_.push_back(request);
  }

 private:
  void EndWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    for (const SmallThread& worker : workers_) JoinSmallThread(worker);
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.clear();
    idle_ = 0;
    stopping_ = false;
  }

  void CloseOneIdle() {
    close(idleCloses_.back());
    idleCloses_.pop_back();
    ReturnAheadDescriptor();
  }

  // Waits for a request that a worker serves. Polling pays where a batch is quick; with a slow
  // disk it only takes a core from the kernel's work.
  void WaitUntilDone(FetchRequest* request) {
    for (PollTimer timer; !timer.Expired() && polling_.load(std::memory_order_relaxed);) {
      if (request->state.load(std::memory_order_acquire) == FetchState::kDone) return;
      if (!idleCloses_.empty()) {
        CloseOneIdle();
      } else {
        Pause();
      }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    awaiting_ = request;
    done_.wait(lock, [request] {
      return request->state.load(std::memory_order_relaxed) == FetchState::kDone;
    });
    awaiting_ = nullptr;
  }

  // Takes `request` off `queue` where it is there, as done and unserved.
  template <typename Queue>
  static bool TakeBack(Queue* queue, FetchRequest* request) {
    auto it = std::find(queue->begin(), queue->end(), request);
    if (it == queue->end()) return false;
    queue->erase(it);
    request->state.store(FetchState::kDone, std::memory_order_release);
    return true;
  }

  // Under the lock: queues what the walk's thread holds back; returns whether anything is queued.
  bool QueuePending() {
    queue_.insert(queue_.end(), pending_.begin(), pending_.end());
    pending_.clear();
    listings_.insert(listings_.end(), pendingListings_.begin(), pendingListings_.end());
    pendingListings_.clear();
    Count();
    return Queued() > 0;
  }

  // Under the lock: takes up to `most` requests off the queues, listings first.
  size_t TakeBatch(FetchRequest** batch, size_t most) {
    size_t count = 0;
    const size_t listings = std::min(most, allowed_ > 1 ? kListingsPerBatch : size_t{1});
    for (; count < listings && count < listings_.size(); ++count) batch[count] = listings_[count];
    if (count > 0) {
      listings_.erase(listings_.begin(), listings_.begin() + static_cast<ptrdiff_t>(count));
      Count();
      return count;
    }
    for (; count < most && count < queue_.size(); ++count) batch[count] = queue_[count];
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<ptrdiff_t>(count));
    Count();
    return count;
  }

  size_t Queued() const { return queue_.size() + listings_.size(); }

  // Under the lock, after the queues change: what a polling worker looks at.
  void Count() { queued_.store(Queued(), std::memory_order_relaxed); }

  // Under the lock: whether a sleeping worker should be woken, or one more started.
  bool WorkerWanted() {
    const int busy = static_cast<int>(workers_.size()) - idle_;
    if (busy >= allowed_) return false;
    if (idle_ > 0) return true;
    // A thread that cannot be started leaves its requests queued, and the walk's thread
    // serves them itself.
    SmallThread worker;
    if (workers_.size() < workers_.capacity() &&
        StartSmallThread([](void* pool) { static_cast<FetchPool*>(pool)->Work(); }, this,
                         &worker)) {
      workers_.push_back(worker);
    } else {
      limit_ = allowed_ = static_cast<int>(workers_.size());
    }
    return false;
  }

  // kReadsWaited: the files' contents were not in the cache, which a slow processor, or a
  // tracer, cannot fake.
  enum class Pace { kQuick, kSlow, kWaitedOnDisk, kReadsWaited };

  // Serves `count` requests taken off the queue, unlocking `lock` meanwhile; marks them done,
  // but for those whose heads are left being read, where `keepReading`, and marks done those
  // whose heads have been read since. Says whether the reads were seen to wait for the disk, or
  // else whether that was slow and, where `measure`, whether the thread slept meanwhile: slow
  // because it waited, not because it was preempted.
  Pace Serve(FetchRequest* const* batch, size_t count, std::unique_lock<std::mutex>* lock,
             bool measure, bool keepReading) {
    for (size_t i = 0; i < count; ++i) {
      batch[i]->state.store(FetchState::kRunning, std::memory_order_relaxed);
    }
    lock->unlock();
    const int64_t start = Now();
    const long sleeps = measure ? Sleeps() : 0;
    const bool waited = ServeFetches(batch, count, keepReading);
    FetchRequest* read[kMaxHeadReadsOut];
    const size_t readCount = keepReading ? FinishFetches(read, kMaxHeadReadsOut, false) : 0;
    Pace pace = Now() - start > kWaitedNanoseconds ? Pace::kSlow : Pace::kQuick;
    if (pace == Pace::kSlow && measure && Sleeps() > sleeps) pace = Pace::kWaitedOnDisk;
    if (waited) pace = Pace::kReadsWaited;
    lock->lock();
    MarkDone(batch, count, false);
    MarkDone(read, readCount, true);
    return pace;
  }

  // Under the lock: marks the requests done, those whose heads have been `read` since or else
  // those that were not left being read, and wakes the walk's thread if it waits for one of
  // them. A request is marked once: as soon as it is done, the walk may give it back and
  // queue it again.
  void MarkDone(FetchRequest* const* requests, size_t count, bool read) {
    bool awaited = false;
    for (size_t i = 0; i < count; ++i) {
      if (read) {
        requests[i]->reading = false;
      } else if (requests[i]->reading) {
        continue;
      }
      requests[i]->state.store(FetchState::kDone, std::memory_order_release);
      awaited = awaited || requests[i] == awaiting_;
    }
    if (awaited) done_.notify_one();
  }

  // Marks done the requests whose heads this thread has read since, waiting for one where
  // `wait`; unlocks `lock` meanwhile.
  void FinishReads(std::unique_lock<std::mutex>* lock, bool wait) {
    FetchRequest* read[kMaxHeadReadsOut];
    lock->unlock();
    const size_t count = FinishFetches(read, kMaxHeadReadsOut, wait);
    lock->lock();
    MarkDone(read, count, true);
  }

  void Work() {
    // The walk's thread is the one the output waits for: a worker it wakes does not take its
    // processor from it.
    sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
    FetchRequest* batch[kFetchBatch];
    bool slow = false;  // the last batch took long
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (Queued() == 0 && HeadReadsOut() > 0) {
        // The reads out are awaited rather than more work: the walk is about to want them.
        FinishReads(&lock, true);
        continue;
      }
      if (Queued() == 0 && allowed_ == 1) {
        // More is usually named within microseconds, sooner than a sleeping thread wakes.
        lock.unlock();
        for (PollTimer timer; !timer.Expired() && queued_.load(std::memory_order_relaxed) == 0;) {
          Pause();
        }
        lock.lock();
      }
      ++idle_;
      work_.wait(lock, [this] { return stopping_ || Queued() > 0; });
      --idle_;
      if (stopping_) return;
      // Once the disk is seen to be slow, a worker's reads go on while it serves its next batch:
      // small batches then keep the disk busier than large ones.
      while (const size_t count = TakeBatch(batch, allowed_ > 1 ? kSlowDiskBatch : kFetchBatch)) {
        if (Queued() >= kFetchBatch && WorkerWanted()) work_.notify_one();
        // A cold disk serves many requests at once far faster than one after the other. Several
        // slow batches are needed, so that one slowed by something else does not count.
        // Whether the thread slept is asked only after a slow batch: asking costs two system
        // calls.
        const Pace pace = Serve(batch, count, &lock, slow && allowed_ < limit_, true);
        slow = pace != Pace::kQuick;
        const bool waited = pace == Pace::kWaitedOnDisk || pace == Pace::kReadsWaited;
        if (waited && ++slowBatches_ >= kSlowBatches && allowed_ < limit_) {
          ++allowed_;
          polling_.store(false, std::memory_order_relaxed);
          if (Queued() > 0 && WorkerWanted()) work_.notify_one();
        }
        if (pace == Pace::kReadsWaited && ++readsWaitedBatches_ == kSlowBatches) {
          LetTreeScout(limit_);
        }
        // Reads go on in the background, as many as the thread's ring holds.
        while (HeadReadsOut() + kFetchBatch > kMaxHeadReadsOut) FinishReads(&lock, true);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::deque<FetchRequest> slots_;  // grows up to the window
  std::vector<FetchRequest*> free_;
  std::vector<FetchRequest*> queue_;     // details, in the order named
  std::vector<FetchRequest*> listings_;  // listings, served first
  // Named, not queued yet; the walk's thread's alone.
  std::vector<FetchRequest*> pending_;
  std::vector<FetchRequest*> pendingListings_;
  std::atomic<size_t> queued_{0};     // the queues' length, read without the lock
  std::atomic<bool> polling_{true};   // whether waiting begins with polling
  std::vector<int> idleCloses_;       // the walk's thread's alone
  std::vector<SmallThread> workers_;  // as many as may be let run, reserved when that is set
  FetchRequest* awaiting_ = nullptr;  // the request the walk's thread waits for
  int threads_ = 0;                   // until the process sets its number; the walk's thread's
  int limit_ = 0;                     // the most workers, under the lock
  int allowed_ = 0;                   // workers let run at once: one, more once the disk is slow
  int idle_ = 0;                      // workers waiting for work
  int slowBatches_ = 0;               // batches that waited on the disk
  int readsWaitedBatches_ = 0;        // batches whose reads did
  bool stopping_ = false;
  // Read-ahead given up until the threads are set again; the walk's thread's.
  bool stopped_ = false;
};

FetchPool gPool;

}  // namespace

void SetReadAheadThreads(int count) {
  gPool.SetThreads(count, false);
}

void SetReadAheadThreadsAsOnASlowDisk(int count) {
  gPool.SetThreads(count, true);
}

bool ReadAheadOn() {
  return gPool.On();
}

FetchRequest* AcquireFetch() {
  return gPool.Acquire();
}

void SubmitFetch(FetchRequest* request) {
  gPool.Submit(request);
}

void CloseWhenIdle(int fd) {
  gPool.CloseWhenIdle(fd);
}

void CloseIdleDescriptors() {
  gPool.CloseIdle();
}

void CancelFetch(FetchRequest* request) {
  gPool.Cancel(request);
}

void StopFetches() {
  gPool.Stop();
}

void FreeFetches() {
  gPool.Free();
}

void FlushFetches() {
  gPool.Flush();
}

void AwaitFetch(FetchRequest* request) {
  gPool.Await(request);
}

bool FetchServed(const FetchRequest* request) {
  return gPool.Served(request);
}

void ReleaseFetch(FetchRequest* request) {
  gPool.Release(request);
}
