#include "walk/walk_directory.h"

#include <vector>

#include "datefilter/date_filter.h"
#include "platform/console.h"
#include "platform/path_separator.h"
#include "report/report_entry.h"
#include "settings/run_settings.h"
#include "walk/find_entry.h"
#include "walk/match_pattern.h"
#include "walk/walk_totals.h"

namespace {

// One directory being walked. Its path is the first `directoryLength` bytes of the walk's
// path buffer.
struct WalkFrame {
  DirListing* listing;
  size_t directoryLength;
  bool started;
  size_t ahead = 0;        // entries after the current one already looked at for read-ahead
  size_t leadingDots = 0;  // of those, the names beginning with "." that head the listing
};

// How many entries of each directory being walked are looked at ahead of the current one.
constexpr size_t kLookAhead = 128;

// Names to the listing the entries after the current one that the walk will ask about, so
// that the platform can fetch them meanwhile: those whose names match, and the directories
// it will descend into. Stops where the platform's window is full.
void LookAhead(WalkFrame* frame) {
  FileEntry next;
  while (frame->ahead < kLookAhead && PeekListingEntry(frame->listing, frame->ahead, &next)) {
    // FindFirstEntry passes over the leading names that begin with ".".
    if (!frame->started && frame->ahead == frame->leadingDots && next.name[0] == '.') {
      ++frame->leadingDots;
      ++frame->ahead;
      continue;
    }
    const bool matches = MatchesPattern(next.name);
    const bool descends = (next.attributes & kDirectoryAttribute) != 0 && gSettings.recurse;
    if ((matches || descends) && !ReadAhead(frame->listing, frame->ahead, matches, descends)) {
      return;
    }
    ++frame->ahead;
  }
}

// Takes `consumed` entries off what the frame has looked at ahead.
void MoveOn(WalkFrame* frame, size_t consumed) {
  frame->ahead = frame->ahead > consumed ? frame->ahead - consumed : 0;
}

// `entry` is the listing's current entry and `path` its full path.
void ConsiderEntry(DirListing* listing, const std::string& path, FileEntry* entry) {
  if (!MatchesPattern(entry->name)) return;
  ReadEntryDetails(listing, entry);
  const bool admitted = gSettings.dateRange.activeMarker == 0 || IsInDateRange(entry->writeTime);
  if (admitted) ReportFile(listing, path, *entry);
  // Entries that the date range rejects still count.
  ++gTotals.matchedCount;
  gTotals.sizeSum += entry->size;
}

}  // namespace

WalkTotals gTotals;

bool WalkDirectory(const std::string& directory) {
  // The tree is walked with a stack of its own rather than by recursion, so that no depth of
  // tree can exhaust the program's stack.
  std::string path = directory;
  DirListing* root = OpenListing(path, nullptr);
  if (root == nullptr) return false;
  std::vector<WalkFrame> frames{{root, path.size(), false}};
  while (!frames.empty() && !OutputFailed()) {
    // The deepest directory's entries come soonest, so they are named first.
    for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame) LookAhead(&*frame);
    WalkFrame& frame = frames.back();
    FileEntry entry;
    const bool more = frame.started ? FindNextEntry(frame.listing, &entry)
                                    : FindFirstEntry(frame.listing, &entry);
    MoveOn(&frame, frame.started ? 1 : frame.leadingDots + 1);
    frame.started = true;
    if (!more) {
      CloseFind(frame.listing);
      frames.pop_back();
      continue;
    }
    path.resize(frame.directoryLength);
    path += entry.name;
    ConsiderEntry(frame.listing, path, &entry);
    if ((entry.attributes & kDirectoryAttribute) != 0 && gSettings.recurse) {
      path += kPathSeparator;
      // A subdirectory that cannot be listed yields nothing.
      if (DirListing* child = OpenListing(path, frame.listing)) {
        frames.push_back({child, path.size(), false});
      }
    }
  }
  for (const WalkFrame& frame : frames) CloseFind(frame.listing);
  return true;
}
