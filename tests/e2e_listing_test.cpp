// End-to-end tests: the built program on trees made for each case, its output compared byte
// for byte.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "support/lumo_run.h"
#include "support/report_lines.h"
#include "support/target.h"
#include "support/temp_tree.h"

namespace {

const char kUsage[] =
    "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x81\xae\xe3\x83\x90\xe3\x83\xbc\xe3"
    "\x82\xb8\xe3\x83\xa7\xe3\x83\xb3\xe6\x83\x85\xe5\xa0\xb1\xe3\x81\xaa\xe3\x81\xa9\xe3\x82"
    "\x92\xe8\xa1\xa8\xe7\xa4\xba\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82\n"
    "Usage: lumo [-S] [-0|1|2] [directory] file_pattern\n"
    "    -S        \xe3\x82\xb5\xe3\x83\x96\xe3\x83\x87\xe3\x82\xa3\xe3\x83\xac\xe3\x82\xaf\xe3"
    "\x83\x88\xe3\x83\xaa\xe3\x81\xae\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x82"
    "\x82\xe8\xa1\xa8\xe7\xa4\xba\n"
    "    -N        \xe3\x83\x90\xe3\x83\xbc\xe3\x82\xb8\xe3\x83\xa7\xe3\x83\xb3\xe3\x83\xaa\xe3"
    "\x82\xbd\xe3\x83\xbc\xe3\x82\xb9\xe3\x81\xae\xe3\x81\xaa\xe3\x81\x8b\xe3\x81\xa3\xe3\x81"
    "\x9f\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe6\x83\x85\xe5\xa0\xb1\xe8\xa1\xa8"
    "\xe7\xa4\xba\xe3\x81\xae\xe6\x8a\x91\xe5\x88\xb6\n"
    "    -0|1|2    \xe9\xa0\x85\xe7\x9b\xae\xe3\x81\xae\xe8\xaa\xac\xe6\x98\x8e\xe3\x82\x92\xe8"
    "\xa1\xa8\xe7\xa4\xba\xe3\x81\x99\xe3\x82\x8b\xe8\xa8\x80\xe8\xaa\x9e\xe3\x81\xae\xe9\x81"
    "\xb8\xe6\x8a\x9e  0:\xe8\x8b\xb1\xe8\xaa\x9e 1:\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e 2:\xe3"
    "\x81\xaa\xe3\x81\x97\n";

TEST(Usage, IsShownWhenNoPatternIsLeft) {
  const std::vector<std::vector<std::string>> argumentLists = {{}, {"-S"}, {"-S", "-N1"}, {"-"}};
  for (const auto& args : argumentLists) {
    const LumoResult result = RunLumo(args);
    EXPECT_EQ(result.out, kUsage);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST(Listing, OrdersNamesAsNtfsAndSkipsOnlyLeadingDotNames) {
  TempTree tree;
  tree.File("b.txt", "12", kTime);
  tree.File("A.txt", "1", kTime);
  tree.File(".hidden", "123", kTime);
  tree.File("_under", "", kTime);
  tree.File("Z", "", kTime);
  tree.File("a", "", kTime);
  const std::string d = tree.root() + "/";
  LumoResult result = RunLumo({TargetPath(tree.root()), "*"});
  EXPECT_EQ(result.out, Line(d + "a", 0) + Line(d + "A.txt", 1) + Line(d + "b.txt", 2) +
                            Line(d + "Z", 0) + Line(d + "_under", 0));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "*n"}).out, "");

  // A name that sorts before the dot names makes them ordinary entries, also where it does not
  // match.
  tree.File("-dash", "", kTime);
  result = RunLumo({TargetPath(tree.root()), "*"});
  EXPECT_EQ(result.out, Line(d + "-dash", 0) + Line(d + ".hidden", 3) + Line(d + "a", 0) +
                            Line(d + "A.txt", 1) + Line(d + "b.txt", 2) + Line(d + "Z", 0) +
                            Line(d + "_under", 0));
  EXPECT_EQ(RunLumo({"-S", TargetPath(tree.root()), "*n"}).out, Line(d + ".hidden", 3));
}

TEST(Listing, RecursesInPreOrderIntoDirectoriesWhoseNamesDoNotMatch) {
  TempTree tree;
  tree.Dir("a");
  tree.File("a/x.dll", "xx", kTime);
  tree.Dir("a/b.dll");
  tree.File("a/b.dll/y.DLL", "y", kTime);
  tree.File("c.dll", "ccc", kTime);
  tree.File("d.exe", "", kTime);
  tree.SetMtime("a/b.dll", kTime);
  const std::string d = tree.root() + "/";
  EXPECT_EQ(RunLumo({"-S", TargetPath(d), "*.dll"}).out,
            Line(d + "a/b.dll", 0) + Line(d + "a/b.dll/y.DLL", 1) + Line(d + "a/x.dll", 2) +
                Line(d + "c.dll", 3));
  // Without -S only the top level.
  EXPECT_EQ(RunLumo({TargetPath(d), "*.DLL"}).out, Line(d + "c.dll", 3));
}

TEST(Listing, LinksAreShownAsTheirTargetsAndNeverDescended) {
  if (TargetIsWin32()) GTEST_SKIP() << "Wine shows links to directories as directories";
  TempTree tree;
  tree.Dir("real");
  tree.File("real/f", "four", kTime);
  tree.Symlink("real/self", ".");
  tree.SetMtime("real", kTime + 60);
  tree.Symlink("link", "real");
  tree.Symlink("dangling", "nowhere");
  tree.SetMtime("dangling", kTime);
  tree.File("target", "12345", kTime + 1);
  tree.Symlink("to-file", "target");
  const std::string d = tree.root() + "/";
  const std::string later = "\t2023/11/14 22:14:20\t";
  const std::string second = "\t2023/11/14 22:13:21\t";
  // A link that leads nowhere is shown as itself: its size is that of the name it holds.
  EXPECT_EQ(RunLumo({"-S", TargetPath(tree.root()), "*"}).out,
            Line(d + "dangling", 7) + Line(d + "link", 0, later) + Line(d + "real", 0, later) +
                Line(d + "real/f", 4) + Line(d + "real/self", 0, later) +
                Line(d + "target", 5, second) + Line(d + "to-file", 5, second));
}

TEST(Listing, SpecialFilesAreListedWithoutBeingOpened) {
  if (TargetIsWin32()) GTEST_SKIP() << "FIFOs are the POSIX build's";
  TempTree tree;
  tree.Fifo("pipe.dll", kTime);
  tree.Sparse("huge.dll", (uint64_t{1} << 31) + 5, kTime);
  tree.Sparse("over4g.dll", (uint64_t{1} << 32) + 7, kTime);
  const std::string d = tree.root() + "/";
  // The size is the low 32 bits, shown signed; the totals wrap the same way.
  EXPECT_EQ(RunLumo({"-V", TargetPath(tree.root()), "*.dll"}).out,
            Line(d + "huge.dll", -2147483643) + Line(d + "over4g.dll", 7) +
                Line(d + "pipe.dll", 0) +
                "Total   3 file(s) -2147483636 bytes (-2097151K bytes).\n");
}

TEST(Driver, TakesArgumentsLiterallyAfterTheFirstNonOption) {
  TempTree tree;
  tree.File("-S", "", kTime);
  tree.Dir("sub");
  tree.File("sub/-S", "", kTime);
  const std::string d = tree.root() + "/";
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "-S", "ignored"}).out, Line(d + "-S", 0));
}

TEST(Driver, WalksTheCurrentDirectoryWithAPatternAlone) {
  TempTree tree;
  tree.File("one.exe", "1", kTime);
  char* real = realpath(tree.root().c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  const std::string d = std::string(real) + "/";
  free(real);
  EXPECT_EQ(RunLumo({"*.EXE"}, InDirectory(tree.root())).out, Line(d + "one.exe", 1));
}

TEST(Driver, ExitStatusTellsWhetherTheDirectoryCouldBeListed) {
  TempTree tree;
  tree.File("file", "", kTime);
  LumoResult result = RunLumo({"-V", TargetPath(tree.Path("missing")), "*"});
  EXPECT_EQ(result.out, "Total   0 file(s) 0 bytes (0K bytes).\n");
  EXPECT_EQ(result.status, 1);
  result = RunLumo({TargetPath(tree.Path("file")), "*"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 1);
  // A directory that is listed but matches nothing is a success.
  result = RunLumo({TargetPath(tree.root()), "nothing"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

TEST(Driver, AKeptDirectoryArgumentIsPrintedAsTyped) {
  if (TargetIsWin32()) GTEST_SKIP() << "\"/\" is not the Win32 build's separator";
  TempTree tree;
  tree.Dir("Sub");
  tree.File("Sub/f", "", kTime);
  // Already ending in the separator: used unchanged, doubled separators and all.
  EXPECT_EQ(RunLumo({"Sub//", "f"}, InDirectory(tree.root())).out, Line("Sub//f", 0));
  EXPECT_EQ(RunLumo({"./Sub", "F"}, InDirectory(tree.root())).out, Line("./Sub/f", 0));
}

TEST(Driver, TotalsCountMatchesAndDivideTowardZero) {
  TempTree tree;
  tree.File("a", std::string(1023, 'x'), kTime);
  EXPECT_EQ(RunLumo({"-v", TargetPath(tree.root()), "*"}).out,
            Line(tree.Path("a"), 1023) + "Total   1 file(s) 1023 bytes (0K bytes).\n");
}

TEST(Driver, FailedOutputIsExitStatusOne) {
  TempTree tree;
  tree.File("a", "", kTime);
  const std::string lumo = TargetCommand();
  const std::string root = ShellQuoted(TargetPath(tree.root()));
  const std::string full = lumo + " " + root + " '*' > /dev/full";
  EXPECT_EQ(WEXITSTATUS(system(full.c_str())), 1);
  const std::string closed = lumo + " " + root + " nothing >&-";
  EXPECT_EQ(WEXITSTATUS(system(closed.c_str())), 1);
  const std::string usage = lumo + " >&-";
  EXPECT_EQ(WEXITSTATUS(system(usage.c_str())), 1);
}

}  // namespace
