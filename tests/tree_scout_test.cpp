// The scout that warms a cold tree: it opens the files whose names match, below the root and
// nothing else, and stops when the walk is done with the tree, also while it waits for the walk
// to catch up.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/dir_listing.h"
#include "platform/posix/tree_scout.h"
#include "settings/run_settings.h"
#include "support/settings_reset.h"
#include "support/temp_tree.h"
#include "walk/match_pattern.h"

namespace {

const std::string kHead(64, 'M');

class TreeScout : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunSettings();
    gSettings.recurse = true;
    LetTreeScout(2);
  }
  void TearDown() override {
    EndTreeScout();
    LetTreeScout(0);
    SetListingFilter(nullptr);
    ResetRunSettings();
  }
  void Begin(const TempTree& tree) {
    BeginTreeScout(open(tree.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
};

TEST_F(TreeScout, OpensTheMatchingFilesOfTheTreeAndNothingElse) {
  TempTree tree;
  TempTree outside;
  outside.File("secret.dll", kHead);
  outside.File("beyond.dll", kHead);
  tree.File("top.dll", kHead);
  tree.File("top.txt", kHead);
  tree.Dir("sub");
  tree.File("sub/inner.DLL", kHead);
  tree.File("sub/inner.exe", kHead);
  tree.Dir("sub/deeper");
  tree.File("sub/deeper/leaf.dll", kHead);
  tree.Symlink("link.dll", outside.Path("secret.dll"));
  tree.Symlink("away", outside.root());
  const std::string watched[] = {tree.root(), tree.Path("sub"), tree.Path("sub/deeper"),
                                 outside.root()};
  const int events = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  ASSERT_GE(events, 0);
  for (const std::string& directory : watched) {
    ASSERT_GE(inotify_add_watch(events, directory.c_str(), IN_OPEN), 0);
  }
  gSettings.pattern = "*.dll";
  SetListingFilter(MatchesPattern);
  Begin(tree);
  // Every file the scout opens is named by an event; it is done once the deepest is opened.
  std::set<std::string> opened;
  alignas(inotify_event) char buffer[4096];
  for (int waits = 0; opened.count("leaf.dll") == 0 && waits < 100; ++waits) {
    pollfd ready{events, POLLIN, 0};
    poll(&ready, 1, 100);
    const ssize_t got = read(events, buffer, sizeof buffer);
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->len > 0 && (event->mask & IN_ISDIR) == 0) opened.insert(event->name);
    }
  }
  EndTreeScout();
  close(events);
  EXPECT_EQ(opened, (std::set<std::string>{"top.dll", "inner.DLL", "leaf.dll"}));
}

TEST_F(TreeScout, StopsWhenTheWalkEndsEvenWhileHeldBack) {
  TempTree tree;
  tree.Dir("wide");
  // One entry more than the scout may go ahead of a walk that reads none.
  for (long i = 0; i <= kScoutEntriesAhead; ++i) {
    tree.File("wide/f" + std::to_string(i) + ".dll", kHead);
  }
  tree.Nest("", "deep", 20, "leaf.dll", kHead);
  for (int walk = 0; walk < 3; ++walk) {
    Begin(tree);
    // Given the time to reach its lead; ending must not depend on that.
    usleep(walk * 100000);
    EndTreeScout();
  }
}

}  // namespace
