// The POSIX listing's read-ahead: a fixed window of fetch requests, served a batch at a time in
// the order they were queued (listings first), and taken back by the walk's thread in whatever
// order it needs them. One worker serves while batches are quick, with the walk's thread
// serving what it is about to wait for; more are let run once batches wait on the disk.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "image/pe_image.h"
#include "platform/posix/head_reader.h"

struct DirListing;

enum class FetchState { kFree, kQueued, kRunning, kDone };

struct FetchRequest {
  // Changed by the queue under its lock; kDone may be read without it.
  std::atomic<FetchState> state{FetchState::kFree};
  // The walk's thread has given the request up: what is not begun of it is not done.
  std::atomic<bool> cancelled{false};
  // Set by the walk's thread before the request is queued; only read by the worker.
  int directoryFd = -1;
  const char* name = nullptr;
  unsigned char type = 0;       // DT_*, as listed
  bool details = false;         // take the entry's record: its status and, for a regular file,
                                // its version
  DirListing* child = nullptr;  // list the directory into this one
  // Results, valid once AwaitFetch has returned or FetchServed said true. Only what was done
  // whole is given: a record or a listing that met any failure is left for the walk to take.
  bool recorded = false;  // `status`, and for a regular file the version, from one open of it
  struct stat status;
  ResourceStatus versionStatus = ResourceStatus::kAbsent;
  std::vector<uint8_t> resource;
  size_t heldBytes = 0;  // of read-ahead's memory, for `resource`
  bool listed = false;   // `child` holds the directory's names and its open descriptor
  // The worker's: the file the record is taken from, and its head being read into these.
  int fd = -1;
  bool reading = false;
  HeadRead head;
  uint8_t headBytes[kHeadSize];
};

// The number of requests that can be out at once, and the most a worker serves together.
constexpr int kFetchWindow = 512;
constexpr size_t kFetchBatch = 16;

// As SetReadAheadThreads, but with every worker let run from the start, in the small batches
// of a slow disk, as once batches are seen to wait on the disk; so that both ways can be
// compared.
void SetReadAheadThreadsAsOnASlowDisk(int count);

// Whether read-ahead is on: threads are set for it, and it has not been stopped. Walk's thread
// only.
bool ReadAheadOn();

// A free request, or nullptr when the window is full or read-ahead is off. Walk's thread only.
FetchRequest* AcquireFetch();

// Queues a request for the workers, starting them on first use. Requests are held back until a
// batch of them is named, or FlushFetches is called.
void SubmitFetch(FetchRequest* request);

// Queues what is held back, however little, and wakes a worker for it: the walk names nothing
// more soon.
void FlushFetches();

// Waits for a request to be served. One no worker has begun is served on the caller's thread,
// together with those queued behind it.
void AwaitFetch(FetchRequest* request);

// Whether a request has been served, without waiting.
bool FetchServed(const FetchRequest* request);

// Gives a request up: one no worker has begun is taken off the queue unserved; one being served
// is waited for, without serving anything else meanwhile, and what is not begun of it is left.
void CancelFetch(FetchRequest* request);

// Gives up every request queued, and names none from now on until SetReadAheadThreads: the walk
// needs what read-ahead holds, or can show nothing more.
void StopFetches();

// Frees the requests, once every one is given back after StopFetches. Walk's thread only.
void FreeFetches();

// Closes `fd`, a descriptor counted as read-ahead's (TakeAheadDescriptor), now or when the walk's
// thread next waits for a request. Walk's thread only.
void CloseWhenIdle(int fd);

// Closes at once what CloseWhenIdle left open.
void CloseIdleDescriptors();

// Gives an awaited request back to the window.
void ReleaseFetch(FetchRequest* request);

// The worker's side, implemented by the listing: serves `count` requests, at most kFetchBatch.
// Where `keepReading`, a file's head may be left being read: the request is marked `reading`
// (until the worker marks it done), and FinishFetches serves the rest of it. Returns true where
// some of them were seen to wait for the disk.
bool ServeFetches(FetchRequest* const* requests, size_t count, bool keepReading);

// Serves up to `most` requests whose heads have been read since, and puts them in `finished`;
// where `wait` and none has been read, waits for one, if any is being read. Returns how many.
size_t FinishFetches(FetchRequest** finished, size_t most, bool wait);
