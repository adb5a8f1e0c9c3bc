#include "platform/posix/open_directory_path.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

int OpenDirectoryPath(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_DIRECTORY);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;
  return OpenDirectoryPieceByPiece(AT_FDCWD, path, flags);
}

int OpenDirectoryPieceByPiece(int at, const std::string& path, int flags) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  // The directories on the way are only passed through: O_PATH asks for search permission on
  // them, as a whole-path open does, and not for read permission.
  const int passFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  int fd = -1;
  size_t start = 0;
  if (path[0] == '/') {
    fd = open("/", passFlags);
    if (fd < 0) return -1;
    start = 1;
  }
  for (;;) {
    while (start < path.size() && path[start] == '/') ++start;
    const size_t end = path.find('/', start);
    const std::string component =
        path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t next = end;
    while (next != std::string::npos && next < path.size() && path[next] == '/') ++next;
    const bool last = next == std::string::npos || next == path.size();
    // A path of nothing but separators ends on the root; a trailing "/" adds nothing.
    const std::string name = component.empty() ? "." : component;
    const int child =
        openat(fd < 0 ? at : fd, name.c_str(), last ? flags | O_DIRECTORY : passFlags);
    const int saved = errno;
    if (fd >= 0) close(fd);
    errno = saved;
    if (child < 0 || last) return child;
    fd = child;
    start = next;
  }
}
