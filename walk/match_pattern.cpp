#include "walk/match_pattern.h"

#include <string>

#include "settings/run_settings.h"
#include "walk/fold.h"

namespace {

// A plain loop: find_first_of looks each byte up in the set with a call of its own, and the
// test is made for every name the walk meets.
bool HasWildcard(std::string_view text) {
  for (const char byte : text) {
    if (byte == '*' || byte == '?') return true;
  }
  return false;
}

// MatchPattern over the name's bytes as `fold` turns them.
template <typename Fold>
bool Match(std::string_view pattern, std::string_view name, Fold fold) {
  if (pattern.empty()) return true;
  // A star and then no wildcard, the common "*.dll": only the name's end can match the rest.
  if (pattern[0] == '*' && !HasWildcard(pattern.substr(1))) {
    const std::string_view tail = pattern.substr(1);
    if (name.size() < tail.size()) return false;
    const size_t start = name.size() - tail.size();
    for (size_t i = 0; i < tail.size(); ++i) {
      if (fold(name[start + i]) != tail[i]) return false;
    }
    return true;
  }
  // Greedy matching that returns to the last "*" on a mismatch: the earlier stars can only
  // have matched less, so the last one is the only one worth widening, and the test stays
  // linear in practice whatever the number of stars.
  size_t p = 0;
  size_t n = 0;
  size_t starPattern = std::string_view::npos;
  size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starPattern = ++p;
      starName = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == fold(name[n]))) {
      ++p;
      ++n;
    } else if (starPattern != std::string_view::npos) {
      p = starPattern;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchPattern(std::string_view pattern, std::string_view name) {
  return Match(pattern, name, [](char byte) { return byte; });
}

bool MatchesPattern(const char* name) {
  return Match(gSettings.pattern, name, FoldByte);
}
