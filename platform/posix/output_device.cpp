#include "platform/output_device.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

const char kLineEnd[] = "\n";

bool WriteToDevice(const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t written = write(STDOUT_FILENO, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool DeviceIsInteractive() {
  return isatty(STDOUT_FILENO) != 0;
}

bool DeviceIsWritable() {
  const int flags = fcntl(STDOUT_FILENO, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}
