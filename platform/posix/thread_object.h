// An object of each thread's own, for the read-ahead's threads.
#pragma once

#include <pthread.h>

#include <new>

template <typename T>
struct ThreadObjects {
  static inline pthread_key_t key;
  static inline bool haveKey = false;
  static inline pthread_once_t once = PTHREAD_ONCE_INIT;
  static inline thread_local T* object = nullptr;
};

// The calling thread's T, made on its first use and destroyed when the thread ends; nullptr where
// memory runs out. Unlike a thread_local object, whose first use aborts the process when memory
// for its destructor's record runs out, this one costs the thread nothing it cannot do without.
template <typename T>
T* ThreadObject() {
  using Objects = ThreadObjects<T>;
  pthread_once(&Objects::once, [] {
    Objects::haveKey = pthread_key_create(&Objects::key, [](void* object) {
                         delete static_cast<T*>(object);
                       }) == 0;
  });
  if (Objects::object == nullptr && Objects::haveKey) {
    Objects::object = new (std::nothrow) T;
    if (Objects::object != nullptr && pthread_setspecific(Objects::key, Objects::object) != 0) {
      delete Objects::object;
      Objects::object = nullptr;
    }
  }
  return Objects::object;
}

// The calling thread's T where it has made one, without making one.
template <typename T>
T* ThreadObjectIfAny() {
  return ThreadObjects<T>::object;
}

// Destroys the calling thread's T now, where it has one.
template <typename T>
void DropThreadObject() {
  using Objects = ThreadObjects<T>;
  if (Objects::object == nullptr) return;
  pthread_setspecific(Objects::key, nullptr);
  delete Objects::object;
  Objects::object = nullptr;
}
