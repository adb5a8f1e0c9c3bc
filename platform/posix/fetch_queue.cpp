#include "platform/posix/fetch_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/read_ahead.h"

namespace {

constexpr size_t kRequestsPerWake = 8;

// A resource buffer larger than this is not kept for the next request.
constexpr size_t kKeptResourceCapacity = 16 * 1024;

class FetchPool {
 public:
  ~FetchPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  void SetThreads(int count) { threads_ = count < 0 ? 0 : count; }

  // The free requests are the walk's thread's alone, and the workers never look at one that is
  // done, so taking and giving back need no lock.
  FetchRequest* Acquire() {
    if (threads_ == 0) return nullptr;
    if (free_.empty()) {
      if (slots_.size() >= kFetchWindow) return nullptr;
      slots_.emplace_back();
      free_.push_back(&slots_.back());  // a deque keeps the addresses
    }
    FetchRequest* slot = free_.back();
    free_.pop_back();
    slot->state = FetchState::kQueued;  // taken; Submit queues it
    return slot;
  }

  void Submit(FetchRequest* request) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      request->state = FetchState::kQueued;
      queue_.push_back(request);
      // A thread that cannot be started leaves its requests queued, and the walk's thread
      // withdraws them and does the work itself.
      try {
        while (static_cast<int>(workers_.size()) < threads_) {
          workers_.emplace_back([this] { Work(); });
        }
      } catch (const std::system_error&) {
        threads_ = static_cast<int>(workers_.size());
      }
      // A worker goes on while the queue holds work, so one is woken for each few requests:
      // waking one per request costs more than a small request takes with a warm cache.
      if (queue_.size() % kRequestsPerWake != 1 && kRequestsPerWake != 1) return;
    }
    work_.notify_one();
  }

  bool Await(FetchRequest* request) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (request->state == FetchState::kQueued) {
      for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (*it == request) {
          queue_.erase(it);
          break;
        }
      }
      request->state = FetchState::kDone;
      return false;
    }
    awaiting_ = request;
    done_.wait(lock, [request] { return request->state == FetchState::kDone; });
    awaiting_ = nullptr;
    return true;
  }

  void Release(FetchRequest* request) {
    request->haveStatus = false;
    request->versionRead = false;
    request->listed = false;
    request->child = nullptr;
    if (request->resource.capacity() > kKeptResourceCapacity) {
      std::vector<uint8_t>().swap(request->resource);
    }
    request->resource.clear();
    request->state = FetchState::kFree;
    free_.push_back(request);
  }

 private:
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      // Served requests are marked done under the same lock that takes the next.
      while (!queue_.empty()) {
        FetchRequest* request = queue_.front();
        queue_.pop_front();
        request->state = FetchState::kRunning;
        lock.unlock();
        ServeFetch(request);
        lock.lock();
        request->state = FetchState::kDone;
        if (awaiting_ == request) done_.notify_one();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::deque<FetchRequest> slots_;  // grows up to the window
  std::vector<FetchRequest*> free_;
  std::deque<FetchRequest*> queue_;
  std::vector<std::thread> workers_;
  FetchRequest* awaiting_ = nullptr;  // the request the walk's thread waits for
  int threads_ = 0;                   // until the process sets its number
  bool stopping_ = false;
};

FetchPool gPool;

}  // namespace

void SetReadAheadThreads(int count) {
  gPool.SetThreads(count);
}

FetchRequest* AcquireFetch() {
  return gPool.Acquire();
}

void SubmitFetch(FetchRequest* request) {
  gPool.Submit(request);
}

bool AwaitFetch(FetchRequest* request) {
  return gPool.Await(request);
}

void ReleaseFetch(FetchRequest* request) {
  gPool.Release(request);
}
