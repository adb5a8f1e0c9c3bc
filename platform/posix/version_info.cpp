#include "platform/version_info.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "image/pe_image.h"
#include "image/version_resource.h"
#include "platform/posix/head_reader.h"
#include "platform/posix/output_charset.h"
#include "platform/posix/posix_listing.h"

struct VersionBlock {
  std::vector<uint8_t> resource;
  std::string text;  // the last string value asked for, in the output charset
};

namespace {

// One block is alive at a time, so its buffers serve every file; the read buffers are kept
// by each thread that reads.
VersionBlock gBlock;
thread_local ImageBuffers tBuffers;

size_t ReadFromDescriptor(void* context, uint64_t offset, uint8_t* out, size_t size) {
  const int fd = *static_cast<const int*>(context);
  if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  for (;;) {
    const ssize_t got = pread(fd, out, size, static_cast<off_t>(offset));
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) return 0;
  }
}

}  // namespace

ResourceStatus ReadVersionResourceFromHead(int directoryFd, const char* name, const uint8_t* head,
                                           size_t headLength, std::vector<uint8_t>* resource) {
  static_assert(kHeadSize >= kDosHeaderSize);
  if (!BeginsLikeImage(head, headLength)) return ResourceStatus::kAbsent;
  const int fd = openat(directoryFd, name, kContentOpenFlags);
  if (fd < 0) return ResourceStatus::kAbsent;
  const ResourceStatus status = ReadVersionResourceOf(fd, resource);
  close(fd);
  return status;
}

ResourceStatus ReadVersionResourceOf(int fd, std::vector<uint8_t>* resource) {
  const FileSource source{&fd, ReadFromDescriptor};
  return ReadVersionResource(source, &tBuffers, resource);
}

VersionBlock* LoadVersionInfo(DirListing* listing, const std::string&) {
  ResourceStatus status;
  if (!TakeFetchedVersion(listing, &gBlock.resource, &status)) {
    const int fd = OpenCurrentEntry(listing);
    if (fd < 0) return nullptr;
    status = ReadVersionResourceOf(fd, &gBlock.resource);
    close(fd);
  }
  if (status != ResourceStatus::kFound) return nullptr;

  // A resource whose root node is unreadable holds no version information.
  VersionValue root;
  const ByteView block{gBlock.resource.data(), gBlock.resource.size()};
  if (FindVersionValue(block, "", &root) == QueryStatus::kCorrupt) return nullptr;
  return &gBlock;
}

bool QueryVersionValue(VersionBlock* block, const char* subBlock, const void** value,
                       uint32_t* length) {
  if (block == nullptr || subBlock == nullptr) return false;
  VersionValue found;
  const ByteView bytes{block->resource.data(), block->resource.size()};
  if (FindVersionValue(bytes, subBlock, &found) != QueryStatus::kFound) return false;
  if (!found.text) {
    *value = found.bytes.data;
    *length = static_cast<uint32_t>(found.bytes.size);
    return true;
  }
  block->text.clear();
  if (found.ansi) {
    AppendCodePageInOutputCharset(found.bytes.data, found.bytes.size, found.codePage, &block->text);
  } else {
    AppendUtf16InOutputCharset(found.bytes.data, found.bytes.size / 2, &block->text);
  }
  *value = block->text.c_str();
  *length = static_cast<uint32_t>(block->text.size());
  return true;
}

void FreeVersionInfo(VersionBlock* block) {
  if (block == nullptr) return;
  block->resource.clear();
  block->text.clear();
}
