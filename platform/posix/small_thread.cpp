#include "platform/posix/small_thread.h"

#include <sys/mman.h>

#include <new>

namespace {

// Enough for what the read-ahead does, with room to spare under the sanitizers; and a guard page
// below it.
constexpr size_t kStackSize = 256 * 1024;
constexpr size_t kGuardSize = 4096;

// What the thread is to run; the thread frees it.
struct Start {
  void (*run)(void*);
  void* argument;
};

void* Run(void* start) {
  const Start what = *static_cast<Start*>(start);
  delete static_cast<Start*>(start);
  what.run(what.argument);
  return nullptr;
}

// Starts the thread on `stack`, a mapping of kGuardSize + kStackSize bytes.
bool StartOnStack(void* stack, Start* start, pthread_t* id) {
  pthread_attr_t attributes;
  if (mprotect(stack, kGuardSize, PROT_NONE) != 0 || pthread_attr_init(&attributes) != 0) {
    return false;
  }
  const bool started =
      pthread_attr_setstack(&attributes, static_cast<char*>(stack) + kGuardSize, kStackSize) == 0 &&
      pthread_create(id, &attributes, Run, start) == 0;
  pthread_attr_destroy(&attributes);
  return started;
}

}  // namespace

bool StartSmallThread(void (*run)(void*), void* argument, SmallThread* thread) {
  auto* start = new (std::nothrow) Start{run, argument};
  if (start == nullptr) return false;
  thread->stack = mmap(nullptr, kGuardSize + kStackSize, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (thread->stack != MAP_FAILED && StartOnStack(thread->stack, start, &thread->id)) return true;
  if (thread->stack != MAP_FAILED) munmap(thread->stack, kGuardSize + kStackSize);
  // Where a stack this small is refused (a sanitizer keeps data of its own on it), the thread
  // gets the C library's.
  thread->stack = nullptr;
  if (pthread_create(&thread->id, nullptr, Run, start) == 0) return true;
  delete start;
  return false;
}

void JoinSmallThread(const SmallThread& thread) {
  pthread_join(thread.id, nullptr);
  if (thread.stack != nullptr) munmap(thread.stack, kGuardSize + kStackSize);
}
