#include "platform/current_directory.h"

#include <errno.h>
#include <unistd.h>

bool GetCurrentDirectoryPath(std::string* path) {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(buffer.find('\0'));
      *path = buffer;
      return true;
    }
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
}
