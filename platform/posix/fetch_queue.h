// The POSIX listing's read-ahead: a fixed window of fetch requests, served by worker threads
// in the order they were queued, and taken back by the walk's thread in whatever order it
// needs them.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "image/pe_image.h"

struct DirListing;

enum class FetchState { kFree, kQueued, kRunning, kDone };

struct FetchRequest {
  FetchState state = FetchState::kFree;  // kept by the queue, under its lock
  // Set by the walk's thread before the request is queued; only read by the worker.
  int directoryFd = -1;
  const char* name = nullptr;
  unsigned char type = 0;       // DT_* as the listing gave it
  bool details = false;         // fetch the status and, for a regular file, the version
  DirListing* child = nullptr;  // list the directory into this one
  // Results, valid once AwaitFetch has returned true.
  bool haveStatus = false;
  struct stat status;
  bool versionRead = false;  // the file was opened and its version resource looked for
  ResourceStatus versionStatus = ResourceStatus::kAbsent;
  std::vector<uint8_t> resource;
  bool listed = false;  // `child` holds the directory's names and its open descriptor
};

// The number of requests that can be out at once.
constexpr int kFetchWindow = 256;

// A free request, or nullptr when the window is full or read-ahead is off. Walk's thread only.
FetchRequest* AcquireFetch();

// Queues a request for the workers, starting them on first use.
void SubmitFetch(FetchRequest* request);

// Waits for a request to be served. A request no worker has begun is withdrawn instead, and
// false returned: the caller then does the work itself.
bool AwaitFetch(FetchRequest* request);

// Gives an awaited request back to the window.
void ReleaseFetch(FetchRequest* request);

// The worker's side, implemented by the listing: serves one request.
void ServeFetch(FetchRequest* request);
