// The scout that warms a cold tree stops when the walk is done with it, also while it waits for
// the walk to catch up, and scouts the next tree after.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/tree_scout.h"
#include "settings/run_settings.h"
#include "support/settings_reset.h"
#include "support/temp_tree.h"

namespace {

TEST(TreeScout, StopsWhenTheWalkEndsEvenWhileHeldBack) {
  TempTree tree;
  tree.Dir("wide");
  // One entry more than the scout may go ahead of a walk that reads none.
  for (long i = 0; i <= kScoutEntriesAhead; ++i) {
    tree.File("wide/f" + std::to_string(i) + ".dll", std::string(64, 'M'));
  }
  tree.Nest("", "deep", 20, "leaf.dll", std::string(64, 'M'));
  ResetRunSettings();
  gSettings.recurse = true;
  LetTreeScout(2);
  for (int walk = 0; walk < 3; ++walk) {
    BeginTreeScout(open(tree.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Given the time to reach its lead; ending must not depend on that.
    usleep(walk * 100000);
    EndTreeScout();
  }
  LetTreeScout(0);
  ResetRunSettings();
}

}  // namespace
