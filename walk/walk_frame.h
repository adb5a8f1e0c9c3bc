// One directory being walked.
#pragma once

#include <cstddef>

#include "platform/dir_listing.h"

struct WalkFrame {
  DirListing* listing;
  size_t directoryLength;  // its path is this many bytes of the walk's path
  bool started;            // its first entry has been asked for
};
