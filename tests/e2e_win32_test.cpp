// End-to-end tests of what only the Win32 build does: its separator, drive designators,
// Shift_JIS bytes, CR LF line ends, names the ANSI code page cannot hold, long paths, System32
// on 64-bit Windows, and directories that loop back through links.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures/pe_image_writer.h"
#include "support/lumo_run.h"
#include "support/report_lines.h"
#include "support/target.h"
#include "support/temp_tree.h"
#include "support/wine.h"

namespace {

std::string RawLine(const std::string& path, int64_t size) {
  return path + kDate + std::to_string(size) + "\r\n";
}

std::string Totals(int count, int64_t sum) {
  return "Total   " + std::to_string(count) + " file(s) " + std::to_string(sum) + " bytes (" +
         std::to_string(sum / 1024) + "K bytes).\n";
}

std::string LastLine(const std::string& out) {
  const size_t start = out.rfind('\n', out.size() < 2 ? 0 : out.size() - 2);
  return start == std::string::npos ? out : out.substr(start + 1);
}

#define SKIP_UNLESS_WIN32() \
  if (!TargetIsWin32()) GTEST_SKIP() << "the Win32 build's alone"

TEST(Win32Output, EndsLinesInCrLfAndKeepsTheBuiltInTextsInShiftJis) {
  SKIP_UNLESS_WIN32();
  const std::string usage =
      "\x83t\x83@\x83\x43\x83\x8b\x82\xcc\x83o\x81[\x83W\x83\x87\x83\x93\x8f\xee\x95\xf1\x82\xc8"
      "\x82\xc7\x82\xf0\x95\x5c\x8e\xa6\x82\xb5\x82\xdc\x82\xb7\x81\x42\r\n"
      "Usage: lumo [-S] [-0|1|2] [directory] file_pattern\r\n"
      "    -S        \x83T\x83u\x83\x66\x83\x42\x83\x8c\x83N\x83g\x83\x8a\x82\xcc\x83t\x83@\x83"
      "\x43\x83\x8b\x82\xe0\x95\x5c\x8e\xa6\r\n"
      "    -N        \x83o\x81[\x83W\x83\x87\x83\x93\x83\x8a\x83\x5c\x81[\x83X\x82\xcc\x82\xc8"
      "\x82\xa9\x82\xc1\x82\xbd\x83t\x83@\x83\x43\x83\x8b\x8f\xee\x95\xf1\x95\x5c\x8e\xa6\x82"
      "\xcc\x97}\x90\xa7\r\n"
      "    -0|1|2    \x8d\x80\x96\xda\x82\xcc\x90\xe0\x96\xbe\x82\xf0\x95\x5c\x8e\xa6\x82\xb7"
      "\x82\xe9\x8c\xbe\x8c\xea\x82\xcc\x91I\x91\xf0  0:\x89p\x8c\xea 1:\x93\xfa\x96{\x8c\xea "
      "2:\x82\xc8\x82\xb5\r\n";
  EXPECT_EQ(RunLumo({}).raw, usage);

  TempTree tree;
  const std::string image = AsString(
      SimpleVersionedImage({{u"CompanyName", u"\u65e5\u672c Co."}, {u"ProductVersion", u"1.2"}}));
  tree.File("tool.exe", image, kTime);
  const std::string head = RawLine(TargetPath(tree.Path("tool.exe")), image.size());
  // Labels and version strings alike are in the ANSI code page, Shift_JIS here.
  EXPECT_EQ(RunLumo({"-1", TargetPath(tree.root()), "*"}).raw,
            head +
                "\x89\xef\x8e\xd0\x96\xbc: \x93\xfa\x96{ Co.\r\n"
                "\x90\xbb\x95i\x83o\x81[\x83W\x83\x87\x83\x93: 1.2\r\n\r\n");
}

TEST(Win32Paths, ADriveDesignatorGetsTheSeparator) {
  SKIP_UNLESS_WIN32();
  // Without the separator "Z:" would be the current directory of Z:, which holds a "tmp" too.
  TempTree tree;
  tree.File("tmp", "", kTime);
  LumoRun run = InDirectory(tree.root());
  const LumoResult result = RunLumo({"Z:", "tmp"}, run);
  EXPECT_TRUE(result.raw.starts_with("Z:\\tmp\t")) << result.raw;
  EXPECT_TRUE(result.raw.ends_with("\t0\r\n")) << result.raw;
  EXPECT_EQ(result.raw.find('\n'), result.raw.size() - 1) << result.raw;
  EXPECT_EQ(result.status, 0);
}

TEST(Win32Paths, ADirectoryEndingInATrailByteOf5CGetsNoSeparator) {
  SKIP_UNLESS_WIN32();
  TempTree tree;
  // U+8868 is 95 5C in Shift_JIS, U+65E5 is 93 FA.
  const std::string hyou = "\xe8\xa1\xa8", hi = "\xe6\x97\xa5";
  for (const std::string& name : {hyou, hi}) {
    tree.Dir(name);
    tree.File(name + "/inside", "1", kTime);
    tree.File(name + "x", "22", kTime);
    tree.SetMtime(name, kTime);
  }
  const std::string root = TargetPath(tree.root()) + "\\";
  const struct {
    std::string directory;
    std::string out;
  } cases[] = {
      // The 5C reads as the separator, so the names that begin with the directory's are listed,
      // each joined to it.
      {root + "\x95\x5c",
       RawLine(root + "\x95\x5c\x95\x5c", 0) + RawLine(root + "\x95\x5c\x95\x5cx", 2)},
      {root + "\x93\xfa", RawLine(root + "\x93\xfa\\inside", 1)},
  };
  for (const auto& c : cases) {
    // The argument goes through Wine as UTF-8 and reaches lumo in the ANSI code page.
    const std::string utf8 = c.directory.ends_with("\x5c") ? tree.Path(hyou) : tree.Path(hi);
    const LumoResult result = RunLumo({"-S", TargetPath(utf8), "*"});
    EXPECT_EQ(result.raw, c.out);
    EXPECT_EQ(result.status, 0);
  }
}

TEST(Win32Paths, AKeptDirectoryArgumentIsPrintedAsTyped) {
  SKIP_UNLESS_WIN32();
  TempTree tree;
  tree.Dir("Sub");
  tree.File("Sub/f", "", kTime);
  const struct {
    const char* directory;
    const char* path;
  } cases[] = {
      {"Sub\\\\", "Sub\\\\f"},  // already ending in the separator: used unchanged
      {".\\Sub", ".\\Sub\\f"},
      {"Sub/", "Sub/\\f"},  // "/" is no separator here
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunLumo({c.directory, "f"}, InDirectory(tree.root())).raw, RawLine(c.path, 0))
        << c.directory;
  }
}

TEST(Win32Paths, PathsPastTheLimitOfTheAnsiCallsAreListedWalkedAndRead) {
  SKIP_UNLESS_WIN32();
  TempTree tree;
  // A directory whose path, with its separator, is 240 bytes long.
  const std::string root = TargetPath(tree.root());
  const std::string deep(240 - root.size() - 2, 'd');
  tree.Dir(deep);
  const std::string image = AsString(SimpleVersionedImage({{u"ProductVersion", u"5"}}));
  // Full paths of 259 and 260 bytes: the first is the longest the ANSI calls took.
  const std::string fits = std::string(259 - 240 - 4, 'f') + ".exe";
  const std::string over = std::string(260 - 240 - 4, 'o') + ".exe";
  tree.File(deep + "/" + fits, image, kTime);
  tree.File(deep + "/" + over, image, kTime);
  // Directories listed through "<path>*.*" of 259 and 260 bytes.
  const std::string listed(259 - 240 - 4, 'l');
  const std::string unlisted(260 - 240 - 4, 'u');
  for (const std::string& name : {listed, unlisted}) {
    tree.Dir(deep + "/" + name);
    tree.File(deep + "/" + name + "/x", "", kTime);
    tree.SetMtime(deep + "/" + name, kTime);
  }
  tree.SetMtime(deep, kTime);
  const std::string d = tree.Path(deep) + "/";
  EXPECT_EQ(RunLumo({"-S2", TargetPath(tree.root()), "*"}).out,
            Line(tree.Path(deep), 0) + Line(d + fits, image.size()) + "5\n\n" +
                Line(d + listed, 0) + Line(d + listed + "/x", 0) + Line(d + over, image.size()) +
                "5\n\n" + Line(d + unlisted, 0) + Line(d + unlisted + "/x", 0));
}

TEST(Win32Paths, PathsOf300And600BytesAreListedWalkedAndReadAsByThePosixBuild) {
  SKIP_UNLESS_WIN32();
  TempTree tree;
  const std::string image = AsString(SimpleVersionedImage({{u"ProductVersion", u"5"}}));
  // Directories with names of 100 bytes; the file at each depth is named so that its full
  // path, as the Win32 build takes and prints it, has the length asked for.
  std::string directory;
  std::vector<std::string> files;
  for (const auto& [depth, length] : {std::pair{1, 300}, std::pair{4, 600}}) {
    while (std::count(directory.begin(), directory.end(), '/') < depth) {
      directory += std::string(100, static_cast<char>('a' + directory.size() % 26)) + "/";
      tree.Dir(directory);
    }
    const size_t used = TargetPath(tree.Path(directory)).size() + 4;
    files.push_back(directory + std::string(length - used, 'f') + ".dll");
    tree.File(files.back(), image, kTime);
    ASSERT_EQ(TargetPath(tree.Path(files.back())).size(), static_cast<size_t>(length));
  }
  const LumoResult win32 = RunLumo({"-S", "-V", "-2", TargetPath(tree.root()), "*"});
  EXPECT_EQ(win32.out, RunLumo({"-S", "-V", "-2", tree.root(), "*"}, PosixBuild()).out);
  for (const std::string& file : files) {
    EXPECT_NE(win32.out.find(Line(tree.Path(file), image.size()) + "5\n\n"), std::string::npos)
        << file.size();
  }
  EXPECT_EQ(LastLine(win32.out), Totals(6, 2 * image.size()));
}

TEST(Win32Names, NamesTheCodePageCannotHoldAreReachedByTheirRealNames) {
  SKIP_UNLESS_WIN32();
  TempTree tree;
  const std::string image = AsString(SimpleVersionedImage({{u"ProductVersion", u"5"}}));
  const int64_t size = image.size();
  tree.Dir("unicode");
  for (const char* name :
       {"\u0432\u0435\u0440\u0441\u0438\u044f.dll", "\u7248\u672c.dll", "\ud55c\uad6d\uc5b4.dll"}) {
    tree.File(std::string("unicode/") + name, image, kTime);
  }
  const std::string folder = "unicode/\u043f\u0430\u043f\u043a\u0430";
  tree.Dir(folder);
  tree.File(folder + "/inner.dll", image, kTime);
  tree.SetMtime(folder, kTime);
  tree.Dir("latin");
  tree.File("latin/caf\u00e9.dll", image, kTime);
  const std::string u = tree.Path("unicode") + "/", v = "5\n\n", shown = u + "?????";
  const struct {
    int codePage;
    const char* options;
    std::string directory;
    std::string out;
  } cases[] = {
      // Code page 1252 holds none of these names: each is shown as the ANSI calls name it, with
      // "?", and read and walked by its real name.
      {1252, "-SV2", "unicode",
       Line(u + "??????.dll", size) + v + Line(shown, 0) + Line(shown + "/inner.dll", size) + v +
           Line(u + "??.dll", size) + v + Line(u + "???.dll", size) + v + Totals(5, 4 * size)},
      // So is a directory argument.
      {1252, "-2", folder, Line(shown + "/inner.dll", size) + v},
      // Code page 932 has no "\u00e9": its best fit is "e".
      {932, "-V2", "latin", Line(tree.Path("latin/cafe.dll"), size) + v + Totals(1, size)},
  };
  for (const auto& c : cases) {
    const LumoResult result =
        RunLumo({c.options, TargetPath(tree.Path(c.directory)), "*"}, InCodePage(c.codePage));
    EXPECT_EQ(result.out, c.out) << c.codePage << " " << c.directory;
    if (strchr(c.options, 'V') == nullptr) continue;
    EXPECT_EQ(LastLine(result.out),
              LastLine(RunLumo({c.options, tree.Path(c.directory), "*"}, PosixBuild()).out))
        << c.directory;
  }
}

TEST(Win32System, System32ShowsThe64BitFilesAndSysWow64The32BitOnes) {
  SKIP_UNLESS_WIN32();
  StartWine();
  const std::string windows = WinePrefix() + "/drive_c/windows/";
  // Where no 32-bit program runs, Wine makes the prefix without its 32-bit half.
  const char* without = getenv("LUMO_WINE_WITHOUT_WOW64");
  const bool wow64 = without == nullptr || *without == '\0';
  struct stat wide, narrow;
  ASSERT_EQ(stat((windows + "system32/kernel32.dll").c_str(), &wide), 0);
  if (wow64) {
    ASSERT_EQ(stat((windows + "syswow64/kernel32.dll").c_str(), &narrow), 0);
    ASSERT_NE(wide.st_size, narrow.st_size) << "the two copies cannot be told apart";
  }
  for (const std::string folder : {"system32", "syswow64"}) {
    if (folder == "syswow64" && !wow64) continue;
    // What the POSIX build reads from the prefix's own copy of the folder.
    std::string expected = RunLumo({windows + folder, "kernel32.dll"}, PosixBuild()).out;
    EXPECT_NE(expected.find("\nFileVersion: "), std::string::npos) << expected;
    expected.replace(0, windows.size(), "C:/windows/");
    EXPECT_EQ(RunLumo({"C:\\windows\\" + folder, "kernel32.dll"}).out, expected);
  }
}

TEST(Win32Listing, ADirectoryThatLoopsBackIsWalkedOncePerBranch) {
  SKIP_UNLESS_WIN32();
  TempTree tree;
  tree.Dir("real");
  tree.File("real/f", "four", kTime);
  tree.Dir("real/sub");
  tree.Symlink("real/sub/up", "..");
  tree.Symlink("real/self", ".");
  tree.SetMtime("real/sub", kTime);
  tree.SetMtime("real", kTime);
  tree.Symlink("link", "real");
  const std::string d = tree.root() + "/";
  // Wine shows a link to a directory as that directory; each is walked until it leads back
  // to one of the directories it was reached through.
  EXPECT_EQ(RunLumo({"-S", TargetPath(tree.root()), "*"}).out,
            Line(d + "link", 0) + Line(d + "link/f", 4) + Line(d + "link/self", 0) +
                Line(d + "link/sub", 0) + Line(d + "link/sub/up", 0) + Line(d + "real", 0) +
                Line(d + "real/f", 4) + Line(d + "real/self", 0) + Line(d + "real/sub", 0) +
                Line(d + "real/sub/up", 0));
}

TEST(Win32Listing, SizesAreTheLow32BitsShownSigned) {
  SKIP_UNLESS_WIN32();
  TempTree tree;
  tree.Sparse("huge.dll", (uint64_t{1} << 31) + 5, kTime);
  tree.Sparse("over4g.dll", (uint64_t{1} << 32) + 7, kTime);
  const std::string d = tree.root() + "/";
  EXPECT_EQ(RunLumo({"-V", TargetPath(tree.root()), "*.dll"}).out,
            Line(d + "huge.dll", -2147483643) + Line(d + "over4g.dll", 7) +
                "Total   2 file(s) -2147483636 bytes (-2097151K bytes).\n");
}

}  // namespace
