// Naming ahead: the entries the walk will ask about next, named to the platform in the order
// the walk will reach them, through the directories below as soon as they are listed, so that
// the platform can fetch them meanwhile.
#pragma once

#include <cstddef>
#include <vector>

#include "walk/walk_frame.h"

// Where naming has got to: a path down the tree like the walk's own frames, at or ahead of the
// walk's place in pre-order.
struct LookAheadCursor {
  struct Level {
    DirListing* listing;
    size_t index;        // the entry to look at next; on a level above the last, the one gone into
    bool leading;        // still among the names beginning with "." that head the listing
    size_t scouted = 0;  // the directories before this entry have been named to be listed
  };
  std::vector<Level> levels;
  bool finished = false;  // every entry of the tree has been looked at
  // The walk's depth and deepest listing when the cursor was last found ahead of it, and
  // whether it was ahead in a directory above the walk's.
  size_t checkedDepth = 0;
  DirListing* checkedListing = nullptr;
  bool aheadAbove = false;
  // Naming stopped at the directory the cursor stands on, which is not listed yet.
  bool waiting = false;
};

// Names entries ahead of the walk, whose directories are `frames`, until the platform's window
// is full or the next entry lies in a directory not listed yet.
void LookAhead(LookAheadCursor* cursor, const std::vector<WalkFrame>& frames);
