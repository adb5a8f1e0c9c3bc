#include "walk/match_pattern.h"
#include "support/settings_reset.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "settings/run_settings.h"
#include "walk/fold.h"

namespace {

// The matcher as first described: recursive, trying every split at each "*". Slow, but plain
// enough to trust as the reference for the fast one.
bool ReferenceMatch(const char* pattern, const char* name) {
  if (*pattern == '\0') return true;
  while (*name != '\0') {
    if (*pattern == '*') {
      ++pattern;
      for (const char* rest = name; *rest != '\0'; ++rest) {
        if (ReferenceMatch(pattern, rest)) return true;
      }
      return false;
    }
    if (*pattern != '?' && *pattern != *name) return false;
    ++pattern;
    ++name;
    if (*pattern == '\0') break;
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0' && *name == '\0';
}

struct MatchCase {
  const char* pattern;
  const char* name;
  bool matches;
};

TEST(MatchPattern, DecidesTheKnownPairs) {
  const MatchCase cases[] = {
      {"a*", "a", true},        {"?", "", false},
      {"a?c", "abc", true},     {"*a", "ba", true},
      {"a**b", "ab", true},     {"*b*", "abc", true},
      {"*", "", true},          {"", "abc", true},
      {"*.*", "abc", false},    {"*.*", "a.b", true},
      {"ab", "abc", false},     {"abc", "ab", false},
      {"*.dll", "a.dll", true}, {"*.dll", "a.dll.bak", false},
      {"*a*a*", "aa", true},    {"*a*a*", "a", false},
      {"a\\b", "a\\b", true},   {"?*", "", false},
      {"*?", "x", true},        {"*x*y", "xxyxy", true},
      {"*x*y", "xyx", false},   {"\x83\x5c", "\x83\x5c", true},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(MatchPattern(c.pattern, c.name), c.matches)
        << "pattern '" << c.pattern << "' name '" << c.name << "'";
  }
}

TEST(MatchPattern, AgreesWithTheRecursiveDefinition) {
  // Every pattern and name over a small alphabet, up to a length where all shapes of stars,
  // question marks and repeats occur.
  std::mt19937 random(12345);
  const char patternBytes[] = {'a', 'b', '*', '?', '.'};
  const char nameBytes[] = {'a', 'b', '.'};
  for (int round = 0; round < 200000; ++round) {
    std::string pattern(random() % 7, ' ');
    for (char& byte : pattern) byte = patternBytes[random() % 5];
    std::string name(random() % 8, ' ');
    for (char& byte : name) byte = nameBytes[random() % 3];
    ASSERT_EQ(MatchPattern(pattern, name), ReferenceMatch(pattern.c_str(), name.c_str()))
        << "pattern '" << pattern << "' name '" << name << "'";
  }
}

TEST(MatchPattern, ManyStarsStayFast) {
  // The recursive definition takes exponential time here; the matcher must not.
  const std::string pattern = std::string(60, '*') + "b";
  const std::string name(5000, 'a');
  EXPECT_FALSE(MatchPattern(pattern, name));
  EXPECT_TRUE(MatchPattern(pattern, name + "b"));
}

TEST(MatchesPattern, FoldsOnlyAsciiCapitals) {
  const MatchCase cases[] = {
      {"*.DLL", "foo.dll", true},
      {"*.dll", "FOO.DLL", true},
      {"*.ZIP", "a.zip", true},                   // 'Z' too
      {"@[", "`{", false},                        // and nothing on either side of 'A'-'Z'
      {"\xc3\x89*", "\xc3\xa9t\xc3\xa9", false},  // bytes from 0x80 up are never folded
      {"\x83\x61", "\x83\x41", true},             // a second byte in 'A'-'Z' is folded too
      {"*\\*", "a", false},                       // names never hold the separator
  };
  for (const MatchCase& c : cases) {
    ResetRunSettings();
    gSettings.pattern = c.pattern;
    FoldToLower(&gSettings.pattern);
    EXPECT_EQ(MatchesPattern(c.name), c.matches) << c.pattern << " " << c.name;
  }
  ResetRunSettings();
}

}  // namespace
