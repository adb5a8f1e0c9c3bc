#include "walk/walk_directory.h"

#include <vector>

#include "datefilter/date_filter.h"
#include "platform/console.h"
#include "platform/path_separator.h"
#include "report/report_entry.h"
#include "settings/run_settings.h"
#include "walk/find_entry.h"
#include "walk/look_ahead.h"
#include "walk/match_pattern.h"
#include "walk/walk_totals.h"

namespace {

// `entry` is the listing's current entry, whose name matches, and `path` its full path.
void ConsiderEntry(DirListing* listing, const std::string& path, FileEntry* entry) {
  ReadEntryDetails(listing, entry);
  const bool admitted = gSettings.dateRange.activeMarker == 0 || IsInDateRange(entry->writeTime);
  if (admitted) ReportFile(listing, path, *entry);
  // Entries that the date range rejects still count.
  ++gTotals.matchedCount;
  gTotals.sizeSum += entry->size;
}

// Walks the tree below `path`, which ends in the separator, with a stack of its own rather than
// by recursion, so that no depth of tree can exhaust the program's stack.
bool WalkTree(std::string path) {
  DirListing* root = OpenListing(path, nullptr);
  if (root == nullptr) return false;
  std::vector<WalkFrame> frames{{root, path.size(), false}};
  LookAheadCursor cursor;
  while (!frames.empty() && !OutputFailed()) {
    LookAhead(&cursor, frames);
    WalkFrame& frame = frames.back();
    FileEntry entry;
    const bool more = frame.started ? FindNextEntry(frame.listing, &entry)
                                    : FindFirstEntry(frame.listing, &entry);
    frame.started = true;
    if (!more) {
      CloseFind(frame.listing);
      frames.pop_back();
      continue;
    }
    const bool matches = MatchesPattern(entry.name);
    const bool descends = (entry.attributes & kDirectoryAttribute) != 0 && gSettings.recurse;
    if (!matches && !descends) continue;
    path.resize(frame.directoryLength);
    path += entry.name;
    if (matches) ConsiderEntry(frame.listing, path, &entry);
    if (descends) {
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

}  // namespace

WalkTotals gTotals;

bool WalkDirectory(const std::string& directory) {
  // A pattern of stars alone takes every name.
  const bool everyName = gSettings.pattern.find_first_not_of('*') == std::string::npos;
  SetListingFilter(everyName ? nullptr : MatchesPattern);
  const bool walked = WalkTree(directory);
  SetListingFilter(nullptr);
  return walked;
}
