// The read-ahead's threads: each on a small stack of its own, unmapped when the thread is joined.
// The C library keeps the stacks it makes after a join, for the next threads, and holds their
// address space meanwhile; these leave it to the walk, under a limit on it.
#pragma once

#include <pthread.h>

struct SmallThread {
  pthread_t id;
  void* stack;
};

// Starts `run(argument)` on a thread of its own. Returns false where none can be started (the
// memory or a limit of the process).
bool StartSmallThread(void (*run)(void*), void* argument, SmallThread* thread);

void JoinSmallThread(const SmallThread& thread);
