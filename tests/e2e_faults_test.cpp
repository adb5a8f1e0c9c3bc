// What lumo prints when the calls it makes fail or come back short, when it is stopped and
// continued, when a file is replaced as it is read, and when its reader goes away: exactly what
// the walk without read-ahead prints where nothing goes wrong, or, where the walk's own calls
// fail, what that walk makes of them. lumo_faults is lumo with faults put into its calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "fixtures/pe_image_writer.h"
#include "support/lumo_run.h"
#include "support/report_lines.h"
#include "support/target.h"
#include "support/temp_tree.h"

namespace {

std::string Image(const std::u16string& description, uint32_t textSize = 0x200) {
  PeImageSpec spec;
  spec.resources.push_back({16, 1, 0x0409,
                            BuildVersionResource({.tables = {{.strings = {
                                                                  {u"CompanyName", u"Faults Co."},
                                                                  {u"FileDescription", description},
                                                              }}}})});
  spec.textSize = textSize;
  return AsString(BuildPeImage(spec));
}

// Images whose resources lie past the first reads, wide directories whose listings take many
// reads, directories below, links and a FIFO.
void BuildTree(TempTree* tree, int width = 600) {
  for (const char* dir : {"apps", "apps/sub", "wide", "deep", "deep/er"}) tree->Dir(dir);
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    tree->File("apps/app" + n + ".dll",
               Image(u"App " + std::u16string(n.begin(), n.end()), 0x6000));
    tree->File("apps/sub/s" + n + ".exe", Image(u"Sub", 0x200 + 0x200 * (i % 3)));
  }
  for (int i = 0; i < width; ++i) {
    const std::string name = "wide/an-entry-with-a-rather-long-name-" + std::to_string(i);
    tree->File(name + (i % 10 == 0 ? ".dll" : ".txt"), i % 10 == 0 ? Image(u"Wide") : "text");
  }
  tree->File("deep/er/leaf.dll", Image(u"Leaf", 0x3000));
  tree->Symlink("link.dll", "apps/app1.dll");
  tree->Symlink("dangling.dll", "nowhere");
  tree->Fifo("pipe.dll");
}

TEST(Faults, ReadAheadThatFailsOrIsCutShortChangesNothing) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's calls";
  TempTree tree;
  BuildTree(&tree);
  const LumoResult plain = RunProgram(LUMO_FAULTS_BINARY, {"plain", "-SV", tree.root(), "*"});
  ASSERT_EQ(plain.status, 0);
  ASSERT_NE(plain.out.find("FileDescription: App 39"), std::string::npos);
  // On the read-ahead's threads any call may fail; on the walk's, only in ways that it must
  // see through (an interrupted or short read or listing). "slow": every thread at once.
  const char* const plans[] = {
      "",
      "slow",
      "slow,openat:EMFILE:5:ahead",
      "openat:ENFILE:4:ahead",
      "slow,unbatched,openat:ENOENT:3:ahead",
      "slow,unbatched,openat:EACCES:2:ahead",
      "slow,fstat:EIO:3:ahead",
      "slow,fstatat:ENOMEM:3:ahead",
      "slow,getdents64:EIO:2:ahead",
      "slow,getdents64:EINTR:3:ahead",
      "slow,pread:EIO:3:ahead",
      "slow,unbatched,pread:EIO:2:ahead",
      "getdents64:short:1",
      "slow,getdents64:EINTR:2",
      "slow,pread:short:1",
      "unbatched,pread:EINTR:2",
      "slow,ring:ENOMEM:7",
      "ring:EBADR:1",
  };
  for (const char* plan : plans) {
    const LumoResult faulted = RunProgram(LUMO_FAULTS_BINARY, {plan, "-SV", tree.root(), "*"});
    EXPECT_EQ(faulted.status, plain.status) << plan << "\n" << faulted.err;
    EXPECT_TRUE(faulted.out == plain.out)
        << plan << ": " << faulted.out.size() << " bytes, not " << plain.out.size() << "\n"
        << faulted.err;
  }
}

TEST(Faults, FileReplacedAsItIsReadIsShownAsOneVersion) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's calls";
  TempTree tree;
  const std::string before = Image(u"Before");
  const std::string after = Image(u"After", 0x1000);
  tree.File("target.dll", before, kTime);
  tree.File("target.dll.new", after, kTime + 86400);
  // The new version takes the name right after the first look at it, by whichever thread.
  const LumoResult result =
      RunProgram(LUMO_FAULTS_BINARY, {"swap:target.dll", tree.root(), "*.dll"});
  const std::string old = Line(tree.Path("target.dll"), static_cast<int64_t>(before.size()));
  const std::string now =
      Line(tree.Path("target.dll"), static_cast<int64_t>(after.size()), "\t2023/11/15 22:13:20\t");
  EXPECT_TRUE(result.out == old + "CompanyName: Faults Co.\nFileDescription: Before\n\n" ||
              result.out == now + "CompanyName: Faults Co.\nFileDescription: After\n\n")
      << result.out;
}

TEST(Faults, ReadAheadYieldsDescriptorsToTheWalk) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  // Siblings listed ahead hold descriptors while the walk goes down a chain nearly as deep as
  // the limit allows.
  TempTree tree;
  for (int i = 100; i < 170; ++i) {
    const std::string sibling = std::string(1, 'd').append(std::to_string(i));
    tree.Dir(sibling);
    tree.File(sibling + "/f.dll", Image(u"Sibling"));
  }
  tree.Nest("d100", "c", 400, "leaf.dll", Image(u"Leaf"));
  const std::string script = "ulimit -n 300 && exec \"$0\" \"$1\" -S \"$2\" '*'";
  auto run = [&](const char* plan) {
    const std::string command = "sh -c " + ShellQuoted(script) + " " +
                                ShellQuoted(LUMO_FAULTS_BINARY) + " " + plan + " " +
                                ShellQuoted(tree.root());
    int status;
    const std::string out = ShellOutput(command, &status);
    EXPECT_EQ(status, 0) << plan;
    return out;
  };
  const std::string plain = run("plain");
  EXPECT_TRUE(run("slow") == plain);
  EXPECT_TRUE(run("''") == plain);
}

TEST(Faults, StopAndContinueCutNoListingShort) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's signals";
  TempTree tree;
  for (int i = 0; i < 20000; ++i) {
    const std::string name = std::string(1, 'e').append(std::to_string(100000 + i));
    const int fd = open(tree.Path(name).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  const std::string out = "/tmp/lumo-stopped-" + std::to_string(getpid());
  for (int run = 0; run < 3; ++run) {
    const char* argv[] = {LUMO_BINARY, "-V", tree.root().c_str(), "*", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, LUMO_BINARY, &actions, nullptr, const_cast<char**>(argv), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    // Stopped and continued every few hundred microseconds while it runs, as job control does.
    int status;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      kill(pid, SIGSTOP);
      kill(pid, SIGCONT);
      usleep(300);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Total 20000 file(s)"), std::string::npos) << "run " << run;
  }
  unlink(out.c_str());
}

TEST(Faults, FailedOutputEndsTheRunSoon) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's calls";
  TempTree tree;
  BuildTree(&tree, 3000);  // more output than is written at once
  // Every call takes a millisecond, as on a network share; the reader is gone from the start.
  const std::string err = tree.Path("err");
  const std::string command = "sh -c " +
                              ShellQuoted("exec \"$0\" slow,delay:1000 -S \"$1\" '*' 2> \"$2\"") +
                              " " + ShellQuoted(LUMO_FAULTS_BINARY) + " " +
                              ShellQuoted(tree.root()) + " " + ShellQuoted(err) + " | true";
  ASSERT_EQ(system(command.c_str()), 0);
  std::ifstream in(err);
  std::stringstream text;
  text << in.rdbuf();
  const std::string said = "calls after the output failed: ";
  const size_t at = text.str().find(said);
  ASSERT_NE(at, std::string::npos) << text.str();
  const long calls = std::stol(text.str().substr(at + said.size()));
  // What was under way, an entry on each thread, and no more: not what was named ahead (the
  // last version served it all, some 1,500 calls here).
  EXPECT_LT(calls, 300);
}

}  // namespace
