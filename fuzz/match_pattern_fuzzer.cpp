// The wildcard matcher, checked against a plain dynamic-programming matcher. The input is the
// pattern, a NUL, then the name; without a NUL, its halves.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/run_settings.h"
#include "walk/fold.h"
#include "walk/match_pattern.h"

namespace {

// matches[j]: whether the pattern so far matches the first j bytes of the name.
bool ReferenceMatch(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return true;
  std::vector<char> matches(name.size() + 1, 0), next(name.size() + 1);
  matches[0] = 1;
  for (char p : pattern) {
    next[0] = p == '*' && matches[0];
    for (size_t j = 1; j <= name.size(); ++j) {
      next[j] = p == '*' ? (matches[j] || next[j - 1])
                         : (matches[j - 1] && (p == '?' || p == name[j - 1]));
    }
    matches.swap(next);
  }
  return matches[name.size()] != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const size_t split = nul != std::string_view::npos ? nul : size / 2;
  const std::string_view pattern = input.substr(0, split);
  std::string_view name = input.substr(nul != std::string_view::npos ? split + 1 : split);
  name = name.substr(0, name.find('\0'));  // names hold no NUL

  const bool matched = MatchPattern(pattern, name);
  if (pattern.size() * name.size() <= (1u << 16) && matched != ReferenceMatch(pattern, name)) {
    abort();
  }

  // As the walk asks: both sides folded to lower case.
  gSettings.pattern.assign(pattern.data(), pattern.size());
  FoldToLower(&gSettings.pattern);
  const std::string nameText(name);
  std::string folded = nameText;
  FoldToLower(&folded);
  if (MatchesPattern(nameText.c_str()) != MatchPattern(gSettings.pattern, folded)) abort();
  return 0;
}
