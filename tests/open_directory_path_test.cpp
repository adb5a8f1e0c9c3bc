// Opening a directory one component at a time gives what one open() of the whole path gives.
#include "platform/posix/open_directory_path.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "support/temp_tree.h"

namespace {

constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// "ok dev:ino" for an opened directory, the errno's name otherwise; closes what it gets.
std::string Outcome(int fd) {
  if (fd < 0) return strerrorname_np(errno);
  struct stat status;
  const bool known = fstat(fd, &status) == 0;
  close(fd);
  if (!known) return "fstat failed";
  return "ok " + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

TEST(OpenDirectoryPath, PieceByPieceOpensWhatOneOpenOpens) {
  TempTree tree;
  tree.Dir("sub");
  tree.Dir("sub/inner");
  tree.File("sub/file", "");
  tree.Symlink("to-sub", "sub");
  tree.Symlink("to-sub-abs", tree.Path("sub"));
  tree.Symlink("to-inner-via-up", "sub/inner/../inner");
  tree.Symlink("dangling", "missing");
  tree.Symlink("loop-a", "loop-b");
  tree.Symlink("loop-b", "loop-a");
  const int root = open(tree.root().c_str(), kFlags);
  ASSERT_GE(root, 0);
  const char* paths[] = {
      "sub",
      "sub/",
      "sub//inner/",
      "./sub/./inner",
      "sub/inner/..",
      "sub/inner/../..",
      "to-sub",
      "to-sub/inner",
      "to-sub/inner/..",
      "to-sub-abs/inner",
      "to-inner-via-up",
      "sub/file",
      "sub/file/",
      "sub/file/x",
      "missing",
      "missing/sub",
      "dangling",
      "dangling/x",
      "loop-a",
      "loop-a/x",
      ".",
      "",
  };
  for (const char* path : paths) {
    SCOPED_TRACE(std::string("relative: ") + path);
    EXPECT_EQ(Outcome(OpenDirectoryPieceByPiece(root, path, kFlags)),
              Outcome(openat(root, path, kFlags)));
    SCOPED_TRACE(std::string("absolute: ") + tree.Path(path));
    EXPECT_EQ(Outcome(OpenDirectoryPieceByPiece(AT_FDCWD, tree.Path(path), kFlags)),
              Outcome(open(tree.Path(path).c_str(), kFlags)));
  }
  for (const char* path : {"/", "//", "/..", "/./"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Outcome(OpenDirectoryPieceByPiece(root, path, kFlags)), Outcome(open(path, kFlags)));
  }
  close(root);
}

TEST(OpenDirectoryPath, PathLongerThanPathMaxIsOpened) {
  TempTree tree;
  const std::string name(250, 'd');
  tree.Nest("", name, 20, "leaf", "");
  std::string path = tree.root();
  for (int level = 0; level < 20; ++level) path += "/" + name;
  ASSERT_GT(path.size(), static_cast<size_t>(PATH_MAX));
  ASSERT_LT(open(path.c_str(), kFlags), 0);
  ASSERT_EQ(errno, ENAMETOOLONG);
  const int fd = OpenDirectoryPath(path + "/", kFlags);
  ASSERT_GE(fd, 0) << strerrorname_np(errno);
  EXPECT_EQ(faccessat(fd, "leaf", F_OK, 0), 0);
  close(fd);
}

}  // namespace
