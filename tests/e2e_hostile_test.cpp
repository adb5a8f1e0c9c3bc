// Hostile trees: special files, link loops, paths past PATH_MAX, deep trees, raw names and
// unreadable entries. The POSIX build's rules: links are shown as their targets (as themselves
// when those cannot be reached) and never descended; special files are listed and never opened.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>

#include "fixtures/pe_image_writer.h"
#include "support/lumo_run.h"
#include "support/report_lines.h"
#include "support/target.h"
#include "support/temp_tree.h"

namespace {

// An image whose only version string is CompanyName, and what lumo prints of it.
std::string Versioned(const char16_t* company) {
  return AsString(SimpleVersionedImage({{u"CompanyName", company}}));
}
std::string Strings(const std::string& company) {
  return "CompanyName: " + company + "\n\n";
}

TEST(HostileTree, SocketsAndDevicesAreListedNotOpened) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  TempTree tree;
  tree.Socket("sock.dll", kTime);
  std::string expected;
  // /dev/zero: were it read, it would never end. Only root may make one, and only where the
  // machine lets it.
  if (geteuid() == 0 && mknod(tree.Path("dev.dll").c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0) {
    tree.SetMtime("dev.dll", kTime);
    expected += Line(tree.Path("dev.dll"), 0);
  }
  expected += Line(tree.Path("sock.dll"), 0);
  const LumoResult result = RunLumo({tree.root(), "*.dll"});
  EXPECT_EQ(result.out, expected);
  EXPECT_EQ(result.status, 0);
}

TEST(HostileTree, LinkLoopsAndLinksUpAreListedNotFollowed) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  TempTree tree;
  tree.Symlink("a", "b");
  tree.Symlink("b", "a");
  tree.Dir("sub");
  tree.Symlink("sub/up", "..");
  for (const char* entry : {"a", "b", "sub", ""}) tree.SetMtime(entry, kTime);
  // The loop cannot be followed, so each link shows itself: the size of the name it holds.
  const LumoResult result = RunLumo({"-S", tree.root(), "*"});
  EXPECT_EQ(result.out, Line(tree.Path("a"), 1) + Line(tree.Path("b"), 1) +
                            Line(tree.Path("sub"), 0) + Line(tree.Path("sub/up"), 0));
  EXPECT_EQ(result.status, 0);
}

TEST(HostileTree, BindMountOfAnAncestorIsListedNotWalked) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  if (geteuid() != 0) GTEST_SKIP() << "bind mounts need root";
  TempTree tree;
  tree.Dir("a");
  tree.Dir("a/b");
  tree.Dir("a/b/self");
  tree.Dir("a/b/up");
  tree.File("a/b/g", "", kTime);
  tree.Dir("c");
  for (const char* dir : {"a/b/self", "a/b/up", "a/b", "a", "c", ""}) tree.SetMtime(dir, kTime);
  // In a mount namespace of its own, which takes the mounts with it when it ends: the root
  // again three levels down, a/b again inside itself, and a/b again as c. The descriptor limit
  // stops a walk that loops.
  const std::string script =
      "mount --bind \"$1/a/b\" \"$1/c\" && mount --bind \"$1\" \"$1/a/b/up\" && "
      "mount --bind \"$1/a/b\" \"$1/a/b/self\" || exit 77; "
      "ulimit -n 256; exec \"$2\" -S \"$1\" \"*\"";
  const std::string command = "unshare -m sh -c " + ShellQuoted(script) + " sh " +
                              ShellQuoted(tree.root()) + " " + ShellQuoted(LUMO_BINARY) +
                              " 2> /dev/null";
  int status;
  const std::string out = ShellOutput(command, &status);
  ASSERT_NE(status, -1);
  if (status != 0 && out.empty()) GTEST_SKIP() << "no private mount namespace here";
  // a/b/up is the root and a/b/self its own parent, so neither is walked; c, reached by another
  // branch, is.
  EXPECT_EQ(out, Line(tree.Path("a"), 0) + Line(tree.Path("a/b"), 0) + Line(tree.Path("a/b/g"), 0) +
                     Line(tree.Path("a/b/self"), 0) + Line(tree.Path("a/b/up"), 0) +
                     Line(tree.Path("c"), 0) + Line(tree.Path("c/g"), 0) +
                     Line(tree.Path("c/self"), 0) + Line(tree.Path("c/up"), 0));
  EXPECT_EQ(status, 0);
}

TEST(HostileTree, PathLongerThan8000BytesIsReportedWhole) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  TempTree tree;
  const std::string name(250, 'n');
  const std::string image = Versioned(u"Deep");
  tree.Nest("", name, 32, "deep.dll", image, kTime);
  std::string path = tree.root();
  for (int level = 0; level < 32; ++level) path += "/" + name;
  path += "/deep.dll";
  ASSERT_GT(path.size(), 8000u);
  const LumoResult result = RunLumo({"-S", tree.root(), "*.dll"});
  EXPECT_EQ(result.out, Line(path, image.size()) + Strings("Deep"));
  EXPECT_EQ(result.status, 0);
}

TEST(HostileTree, StartDirectoryLongerThan8000BytesIsWalkedWhole) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  TempTree tree;
  const std::string name(250, 'n');
  const std::string image = Versioned(u"Far");
  tree.Nest("", name, 33, "far.dll", image, kTime);
  std::string relative = name;
  for (int level = 1; level < 32; ++level) relative += "/" + name;
  ASSERT_GT(relative.size(), 8000u);
  const std::string below = name + "/far.dll";
  // Absolute and relative, with and without the separator, through a link on the way.
  tree.Symlink("link", name);
  const std::string viaLink = "link" + relative.substr(name.size());
  const std::string starts[] = {tree.Path(relative), tree.Path(relative) + "/", relative,
                                viaLink + "//"};
  for (const std::string& start : starts) {
    SCOPED_TRACE(start.substr(0, 40) + "... (" + std::to_string(start.size()) + " bytes)");
    const std::string shown = start.back() == '/' ? start : start + "/";
    const LumoResult result = RunLumo({"-S", start, "*"}, InDirectory(tree.root()));
    EXPECT_EQ(result.out,
              Line(shown + name, 0) + Line(shown + below, image.size()) + Strings("Far"));
    EXPECT_EQ(result.status, 0);
  }
}

TEST(HostileTree, TreeTwoThousandLevelsDeepIsWalkedWhole) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  // The walk holds a descriptor per level, up to the hard limit.
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max < 2100) GTEST_SKIP() << "descriptor limit " << limit.rlim_max;
  TempTree tree;
  tree.Nest("", "d", 2000, "f", "", kTime);
  std::string expected;
  std::string path = tree.root();
  for (int level = 0; level < 2000; ++level) {
    path += "/d";
    expected += Line(path, 0);
  }
  expected += Line(path + "/f", 0);
  const LumoResult result = RunLumo({"-S", tree.root(), "*"});
  EXPECT_TRUE(result.out == expected) << result.out.size() << " bytes, not " << expected.size();
  EXPECT_EQ(result.status, 0);
}

TEST(HostileTree, WideAndDeepTreeUnderALowDescriptorLimitIsWalkedWhole) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  // Directories listed ahead, and those left to close, hold descriptors the walk's own
  // directories may need.
  TempTree tree;
  const std::string image = Versioned(u"Wide");
  tree.Dir("wide");
  for (int i = 0; i < 150; ++i) {
    const std::string dir = "wide/d" + std::to_string(i);
    tree.Dir(dir);
    tree.File(dir + "/a.dll", image, kTime);
    tree.File(dir + "/b.txt", "text", kTime);
    tree.SetMtime(dir, kTime);
  }
  tree.SetMtime("wide", kTime);
  tree.Nest("", "z", 60, "deep.dll", image, kTime);  // walked after "wide"
  const std::string unlimited = RunLumo({"-S", tree.root(), "*"}).out;
  ASSERT_NE(unlimited.find("deep.dll"), std::string::npos);
  const std::string script = "ulimit -n 100 && exec \"$0\" -S \"$1\" '*'";
  const std::string command = "sh -c " + ShellQuoted(script) + " " + ShellQuoted(LUMO_BINARY) +
                              " " + ShellQuoted(tree.root());
  int status;
  const std::string out = ShellOutput(command, &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(out == unlimited) << out.size() << " bytes, not " << unlimited.size();
}

TEST(HostileTree, NamesArePrintedAsStored) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  TempTree tree;
  const char* names[] = {"bad\xc3(", "caf\xc3\xa9", "new\nline", "tab\there", "\x80\xff"};
  std::string all;
  for (const char* name : names) {
    tree.File(name, "", kTime);
    all += Line(tree.Path(name), 0);
  }
  LumoResult result = RunLumo({tree.root(), "*"});
  EXPECT_EQ(result.out, all);
  EXPECT_EQ(result.status, 0);
  // Bytes from 0x80 up match only themselves.
  result = RunLumo({tree.root(), "*\xc3*"});
  EXPECT_EQ(result.out, Line(tree.Path(names[0]), 0) + Line(tree.Path(names[1]), 0));
}

TEST(HostileTree, UnreadableEntriesAreListedButNotRead) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  TempTree tree;
  // Root reads anything: lumo runs as a user that the modes below keep out, who must be able
  // to reach the tree.
  ASSERT_EQ(chmod(tree.root().c_str(), 0755), 0);
  tree.Dir("locked");
  tree.File("locked/inner.dll", "", kTime);
  const std::string image = Versioned(u"Secret");
  tree.File("secret.dll", image, kTime);
  tree.SetMtime("locked", kTime);
  ASSERT_EQ(chmod(tree.Path("locked").c_str(), 0), 0);
  ASSERT_EQ(chmod(tree.Path("secret.dll").c_str(), 0), 0);
  const LumoResult result = RunLumoAs("nobody", {"-S", tree.root(), "*"});
  if (result.status == 127 && result.out.empty()) GTEST_SKIP() << "lumo cannot run as nobody";
  EXPECT_EQ(result.out, Line(tree.Path("locked"), 0) + Line(tree.Path("secret.dll"), image.size()));
  EXPECT_EQ(result.status, 0);
}

TEST(HostileTree, FilesTooSmallTooLargeOrDamagedAreListedPlainly) {
  if (TargetIsWin32()) GTEST_SKIP() << "the POSIX build's file system";
  TempTree tree;
  tree.File("empty.dll", "", kTime);
  tree.File("mz.dll", "MZ", kTime);
  VersionNode root = VersionTree({});
  root.length = 0;
  PeImageSpec damaged;
  damaged.resources = {{16, 1, 0x0409, WriteVersionNode(root)}};
  const std::string corrupt = AsString(BuildPeImage(damaged));
  tree.File("corrupt.dll", corrupt, kTime);
  // 5 GiB, sparse, with an image at its start: shown by the low 32 bits of its size.
  tree.File("huge.dll", Versioned(u"Huge"), kTime);
  ASSERT_EQ(truncate(tree.Path("huge.dll").c_str(), int64_t{5} << 30), 0);
  tree.SetMtime("huge.dll", kTime);
  const LumoResult result = RunLumo({tree.root(), "*.dll"});
  EXPECT_EQ(result.out, Line(tree.Path("corrupt.dll"), corrupt.size()) +
                            Line(tree.Path("empty.dll"), 0) + Line(tree.Path("huge.dll"), 1 << 30) +
                            Strings("Huge") + Line(tree.Path("mz.dll"), 2));
  EXPECT_EQ(result.status, 0);
}

}  // namespace
