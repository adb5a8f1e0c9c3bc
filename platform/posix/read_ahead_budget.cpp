#include "platform/posix/read_ahead_budget.h"

#include <sys/resource.h>

#include <atomic>

#include "platform/posix/posix_listing.h"

namespace {

// Read-ahead leaves this many descriptors below the limit, beyond the walk's listings, for the
// walk's open file, the standard ones and the rings; and holds at most so many.
constexpr size_t kWalkMargin = 64;
constexpr size_t kMostAheadDescriptors = 512;

// Listings and resources held ahead of the walk; the rest of what read-ahead holds (its threads'
// buffers, its requests) is bounded by their number.
constexpr size_t kMostAheadBytes = 8 * 1024 * 1024;

std::atomic<size_t> gDescriptors{0};
std::atomic<size_t> gBytes{0};
std::atomic<rlim_t> gLimit{0};

rlim_t OpenFileLimit() {
  rlim_t limit = gLimit.load(std::memory_order_relaxed);
  if (limit == 0) {
    struct rlimit current;
    limit = getrlimit(RLIMIT_NOFILE, &current) == 0 ? current.rlim_cur : 1;
    gLimit.store(limit, std::memory_order_relaxed);
  }
  return limit;
}

// Takes `amount` of `held` where the total stays within `most`.
bool TakeWithin(std::atomic<size_t>* held, size_t amount, size_t most) {
  size_t now = held->load(std::memory_order_relaxed);
  do {
    if (now + amount > most) return false;
  } while (!held->compare_exchange_weak(now, now + amount, std::memory_order_relaxed));
  return true;
}

}  // namespace

bool TakeAheadDescriptor() {
  const rlim_t limit = OpenFileLimit();
  size_t most = kMostAheadDescriptors;
  if (limit != RLIM_INFINITY) {
    const rlim_t walk = OpenWalkListings() + kWalkMargin;
    if (limit <= walk) return false;
    if (limit - walk < most) most = static_cast<size_t>(limit - walk);
  }
  return TakeWithin(&gDescriptors, 1, most);
}

void ReturnAheadDescriptor() {
  gDescriptors.fetch_sub(1, std::memory_order_relaxed);
}

size_t AheadDescriptors() {
  return gDescriptors.load(std::memory_order_relaxed);
}

bool ReserveAheadBytes(size_t bytes) {
  return bytes == 0 || TakeWithin(&gBytes, bytes, kMostAheadBytes);
}

void ReleaseAheadBytes(size_t bytes) {
  gBytes.fetch_sub(bytes, std::memory_order_relaxed);
}

bool RoomToListAhead() {
  return gBytes.load(std::memory_order_relaxed) <= kMostAheadBytes / 2;
}

void ResetAheadBudget() {
  gLimit.store(0, std::memory_order_relaxed);
}
