#include "platform/posix/small_thread.h"

#include <sys/mman.h>

#include <new>

namespace {

// Enough for what the read-ahead does, with room to spare under the sanitizers; and a guard page
// below it.
constexpr size_t kStackSize = 256 * 1024;
constexpr size_t kGuardSize = 4096;

// What the thread is to run, kept at the top of its own stack's mapping.
struct Start {
  void (*run)(void*);
  void* argument;
};

void* Run(void* start) {
  const Start what = *static_cast<Start*>(start);
  what.run(what.argument);
  return nullptr;
}

void* RunAndFree(void* start) {
  const Start what = *static_cast<Start*>(start);
  delete static_cast<Start*>(start);
  what.run(what.argument);
  return nullptr;
}

}  // namespace

bool StartSmallThread(void (*run)(void*), void* argument, SmallThread* thread) {
  void* mapped = mmap(nullptr, kGuardSize + kStackSize, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (mapped == MAP_FAILED) return false;
  auto* base = static_cast<char*>(mapped);
  auto* start = reinterpret_cast<Start*>(base + kGuardSize + kStackSize - 64);
  *start = {run, argument};
  pthread_attr_t attributes;
  bool started = mprotect(base, kGuardSize, PROT_NONE) == 0 && pthread_attr_init(&attributes) == 0;
  if (started) {
    started = pthread_attr_setstack(&attributes, base + kGuardSize, kStackSize - 64) == 0 &&
              pthread_create(&thread->id, &attributes, Run, start) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (started) {
    thread->stack = mapped;
    return true;
  }
  munmap(mapped, kGuardSize + kStackSize);
  // Where a stack this small is refused (a sanitizer keeps data of its own on it), the thread
  // gets the C library's.
  thread->stack = nullptr;
  auto* held = new (std::nothrow) Start{run, argument};
  if (held != nullptr && pthread_create(&thread->id, nullptr, RunAndFree, held) == 0) return true;
  delete held;
  return false;
}

void JoinSmallThread(const SmallThread& thread) {
  pthread_join(thread.id, nullptr);
  if (thread.stack != nullptr) munmap(thread.stack, kGuardSize + kStackSize);
}
