#include "support/temp_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

void SetTimes(const std::string& path, int64_t mtime, int flags) {
  const timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, flags), 0) << path;
}

}  // namespace

TempTree::TempTree() {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/lumo-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) abort();
  root_ = pattern;
}

TempTree::~TempTree() {
  // Open up anything a test made unreadable, so that all of it can go.
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(
           root_, std::filesystem::directory_options::skip_permission_denied, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) chmod(it->path().c_str(), 0700);
  }
  chmod(root_.c_str(), 0700);
  std::filesystem::remove_all(root_, error);
}

std::string TempTree::Path(const std::string& relative) const {
  return root_ + "/" + relative;
}

void TempTree::Dir(const std::string& relative, int64_t mtime) {
  const std::string path = Path(relative);
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
  SetTimes(path, mtime, 0);
}

void TempTree::File(const std::string& relative, const std::string& contents, int64_t mtime) {
  const std::string path = Path(relative);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
  close(fd);
  SetTimes(path, mtime, 0);
}

void TempTree::Symlink(const std::string& relative, const std::string& target) {
  const std::string path = Path(relative);
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

void TempTree::Fifo(const std::string& relative, int64_t mtime) {
  const std::string path = Path(relative);
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
  SetTimes(path, mtime, 0);
}

void TempTree::Socket(const std::string& relative, int64_t mtime) {
  const std::string path = Path(relative);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path) << path;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  close(fd);
  ASSERT_EQ(bound, 0) << path;
  SetTimes(path, mtime, 0);
}

void TempTree::Nest(const std::string& relative, const std::string& name, int depth,
                    const std::string& leaf, const std::string& contents, int64_t mtime) {
  const timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
  int fd = open(Path(relative).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << relative;
  for (int level = 0; level < depth; ++level) {
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0) << level;
    const int child = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    futimens(fd, times);
    close(fd);
    ASSERT_GE(child, 0) << level;
    fd = child;
  }
  const int file = openat(fd, leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(file, 0) << leaf;
  ASSERT_EQ(write(file, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
  futimens(file, times);
  close(file);
  futimens(fd, times);
  close(fd);
}

void TempTree::Sparse(const std::string& relative, uint64_t size, int64_t mtime) {
  const std::string path = Path(relative);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
  close(fd);
  SetTimes(path, mtime, 0);
}

void TempTree::SetMtime(const std::string& relative, int64_t mtime) {
  SetTimes(Path(relative), mtime, AT_SYMLINK_NOFOLLOW);
}
