#include "walk/look_ahead.h"

#include <algorithm>

#include "settings/run_settings.h"
#include "walk/match_pattern.h"

namespace {

// Whether the cursor is at or ahead of the walk. Level by level, both are inside the same
// directory or the one further on is ahead; a listing that differs is one the walk opened
// itself or gave up, and the cursor's below it are stale. `decided` gets the level that
// tells.
bool CursorAhead(const LookAheadCursor& cursor, const std::vector<WalkFrame>& frames,
                 size_t* decided) {
  *decided = 0;
  if (cursor.finished) return true;
  if (cursor.levels.empty()) return false;
  const size_t walkDepth = frames.size() - 1;
  const size_t cursorDepth = cursor.levels.size() - 1;
  for (size_t i = 0;; ++i) {
    *decided = i;
    if (cursor.levels[i].listing != frames[i].listing) return false;
    const size_t index = cursor.levels[i].index;
    const size_t walkNext = NextEntryIndex(frames[i].listing);
    if (i < walkDepth && i < cursorDepth && index + 1 == walkNext) continue;
    return index >= walkNext;
  }
}

// CursorAhead for the usual case, without going down the levels: the walk has only moved on
// within the directory it was in when the cursor was last found ahead.
bool StillAhead(const LookAheadCursor& cursor, const std::vector<WalkFrame>& frames) {
  if (cursor.checkedDepth != frames.size() || cursor.checkedListing != frames.back().listing) {
    return false;
  }
  // Past the walk's place in a directory above: the walk gets there only by leaving its own.
  if (cursor.finished || cursor.aheadAbove) return true;
  const size_t walkDepth = frames.size() - 1;
  if (cursor.levels.size() <= walkDepth) return false;
  const LookAheadCursor::Level& level = cursor.levels[walkDepth];
  return level.listing == frames.back().listing && level.index >= NextEntryIndex(level.listing);
}

// Puts the cursor where the walk is.
void ResetCursor(LookAheadCursor* cursor, const std::vector<WalkFrame>& frames) {
  cursor->levels.clear();
  for (size_t i = 0; i < frames.size(); ++i) {
    const size_t next = NextEntryIndex(frames[i].listing);
    const bool inside = i + 1 < frames.size();
    cursor->levels.push_back({frames[i].listing, inside ? next - 1 : next, !frames[i].started});
  }
}

// While the cursor waits for the listing of the directory it stands on, the directories after it
// are named to be listed too, so that many listings are read at once. (Those after the
// directories above would be read long before they are wanted, and hold the room for listings
// ahead that nearer ones need.)
void Scout(LookAheadCursor::Level* level) {
  FileEntry next;
  size_t index = std::max(level->scouted, level->index + 1);
  bool named = true;
  for (; named && PeekListingEntry(level->listing, index, &next); ++index) {
    if ((next.attributes & kDirectoryAttribute) == 0) continue;
    named = ReadAhead(level->listing, index, MatchesPattern(next.name), true);
  }
  level->scouted = named ? index : index - 1;
}

}  // namespace

void LookAhead(LookAheadCursor* cursor, const std::vector<WalkFrame>& frames) {
  if (frames.empty()) return;
  if (!StillAhead(*cursor, frames)) {
    size_t decided;
    if (CursorAhead(*cursor, frames, &decided)) {
      cursor->aheadAbove = decided + 1 < frames.size();
    } else {
      ResetCursor(cursor, frames);
      cursor->waiting = false;
      cursor->aheadAbove = false;
    }
  }
  cursor->checkedDepth = frames.size();
  cursor->checkedListing = frames.back().listing;
  std::vector<LookAheadCursor::Level>& levels = cursor->levels;
  // Most steps of the walk find the cursor still waiting for the same listing.
  if (cursor->waiting && ListedAhead(levels.back().listing, levels.back().index) == nullptr) {
    return;
  }
  cursor->waiting = false;
  while (!cursor->finished) {
    LookAheadCursor::Level& level = levels.back();
    FileEntry next;
    if (!PeekListingEntry(level.listing, level.index, &next)) {
      levels.pop_back();
      if (levels.empty()) {
        cursor->finished = true;
      } else {
        ++levels.back().index;
      }
      continue;
    }
    // FindFirstEntry passes over these.
    if (level.leading && next.name[0] == '.') {
      ++level.index;
      continue;
    }
    level.leading = false;
    const bool matches = MatchesPattern(next.name);
    const bool descends = (next.attributes & kDirectoryAttribute) != 0 && gSettings.recurse;
    if ((matches || descends) && !ReadAhead(level.listing, level.index, matches, descends)) return;
    if (descends) {
      // The walk goes into the directory next, so naming does too, once it is listed.
      DirListing* child = ListedAhead(level.listing, level.index);
      if (child == nullptr) {
        Scout(&level);
        FileEntry after;
        cursor->waiting = !PeekListingEntry(level.listing, level.scouted, &after);
        return;
      }
      levels.push_back({child, 0, true});
      continue;
    }
    ++level.index;
  }
}
