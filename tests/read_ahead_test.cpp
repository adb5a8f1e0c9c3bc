// The walk prints the same bytes whether the listing reads ahead on worker threads or not, and
// whether it reads the files' first bytes in batches or one by one.
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "fixtures/pe_image_writer.h"
#include "platform/console.h"
#include "platform/posix/fetch_queue.h"
#include "platform/posix/head_reader.h"
#include "platform/read_ahead.h"
#include "support/settings_reset.h"
#include "support/temp_tree.h"

namespace {

constexpr int64_t kTime = 1700000000;

// What the driver prints for `args` in this process, with `threads` reading ahead, all of them
// at once where `slowDisk`.
std::string WalkOutput(const std::vector<std::string>& args, int threads, bool slowDisk = false) {
  ResetRunSettings();
  if (slowDisk) {
    SetReadAheadThreadsAsOnASlowDisk(threads);
  } else {
    SetReadAheadThreads(threads);
  }
  char path[] = "/tmp/lumo-read-ahead-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  const int saved = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  std::vector<std::string> argv = {"lumo"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  RunLumo(static_cast<int>(pointers.size()), pointers.data());
  FinishOutput();
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(fd);
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  unlink(path);
  return text.str();
}

std::string Image(const char16_t* description) {
  return AsString(SimpleVersionedImage({{u"CompanyName", u"Example Co."},
                                        {u"FileDescription", description},
                                        {u"FileVersion", u"1.2.3.4"}}));
}

// The kinds of entries the end-to-end tests walk, in one tree, and a directory wider than
// the read-ahead window.
void BuildMixedTree(TempTree* tree) {
  const std::string image = Image(u"Tool");
  tree->File(".hidden.dll", image, kTime);
  tree->File("A.DLL", image, kTime);
  tree->File("b.exe", Image(u"Other"), kTime);
  tree->File("truncated.dll", image.substr(0, image.size() / 2), kTime);
  tree->File("notes.txt", "text", kTime);
  tree->File("MZ.dll", "MZ", kTime);
  tree->Fifo("pipe.dll", kTime);
  tree->Socket("sock.dll", kTime);
  tree->Sparse("huge.dll", (uint64_t{1} << 31) + 5, kTime);
  tree->Dir("real");
  tree->File("real/inner.dll", image, kTime - 86400 * 400);
  tree->Dir("real/sub");
  tree->File("real/sub/leaf.exe", image, kTime);
  tree->Symlink("real/sub/up", "..");
  tree->Symlink("real/self", ".");
  tree->Symlink("link", "real");
  tree->Symlink("dangling.dll", "nowhere");
  tree->Symlink("to-file.dll", "A.DLL");
  tree->Symlink("loop1.dll", "loop2.dll");
  tree->Symlink("loop2.dll", "loop1.dll");
  tree->Dir("wide.dll");
  for (int i = 0; i < 300; ++i) {
    const std::string name = "wide.dll/f" + std::to_string(i);
    tree->File(name + (i % 3 == 0 ? ".dll" : ".txt"), i % 2 == 0 ? image : "x", kTime + i);
    if (i % 50 == 0) tree->Dir(name + ".dir");
    if (i % 50 == 0) tree->File(name + ".dir/in.dll", image, kTime);
  }
  tree->Nest("", "deep", 40, "deep.dll", image, kTime);
  tree->SetMtime("real", kTime);
}

const std::vector<std::vector<std::string>> kOptionSets = {
    {"-S"}, {"-SN"}, {"-SV"}, {"-S2"}, {"-SND2023/11/14"}, {}, {"-SV0"},
};
const char* const kPatterns[] = {"*", "*.dll", "*.EXE", "f1*", "nothing"};

void ExpectSameWithAndWithoutReadAhead(const std::string& root) {
  for (const auto& options : kOptionSets) {
    for (const char* pattern : kPatterns) {
      std::vector<std::string> args = options;
      args.push_back(root);
      args.push_back(pattern);
      const std::string alone = WalkOutput(args, 0);
      EXPECT_EQ(WalkOutput(args, 1), alone) << root << " " << pattern;
      EXPECT_EQ(WalkOutput(args, 8), alone) << root << " " << pattern;
      EXPECT_EQ(WalkOutput(args, 8, true), alone) << root << " " << pattern << " slow disk";
      // Each file opened and read by its own system calls, as where io_uring is refused.
      SetHeadReadsBatched(false);
      EXPECT_EQ(WalkOutput(args, 8), alone) << root << " " << pattern;
      SetHeadReadsBatched(true);
    }
  }
}

class ReadAhead : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    SetHeadReadsBatched(true);
    SetReadAheadThreads(0);
    ResetRunSettings();
  }
};

TEST_F(ReadAhead, PrintsWhatTheOneThreadWalkPrintsOnAMixedTree) {
  TempTree tree;
  BuildMixedTree(&tree);
  ExpectSameWithAndWithoutReadAhead(tree.root());
  // The tree is really walked: not every run may print nothing.
  EXPECT_NE(WalkOutput({"-S", tree.root(), "*"}, 8).find("deep.dll"), std::string::npos);
}

TEST_F(ReadAhead, PrintsWhatTheOneThreadWalkPrintsOnTheSampleTree) {
  ExpectSameWithAndWithoutReadAhead(LUMO_SAMPLE_TREE);
}

}  // namespace
