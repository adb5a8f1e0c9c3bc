#include "platform/version_info.h"

#include <unistd.h>

#include <algorithm>
#include <new>
#include <vector>

#include "image/pe_image.h"
#include "image/version_resource.h"
#include "platform/posix/head_reader.h"
#include "platform/posix/output_charset.h"
#include "platform/posix/posix_listing.h"
#include "platform/posix/thread_object.h"

struct VersionBlock {
  std::vector<uint8_t> resource;
  std::string text;  // the last string value asked for, in the output charset
};

namespace {

// One block is alive at a time, so its buffers serve every file; the read buffers are kept
// by each thread that reads.
VersionBlock gBlock;

struct OpenFile {
  int fd;
  uint64_t length;  // where the file is known to end, as its status says
  bool failed;      // a read failed: the file may hold more than was read
};

// Reads no further than the file is known to end.
size_t ReadFromDescriptor(void* context, uint64_t offset, uint8_t* out, size_t size) {
  auto* file = static_cast<OpenFile*>(context);
  if (offset >= file->length) return 0;
  return ReadWhole(file->fd, out, std::min<uint64_t>(size, file->length - offset), offset,
                   &file->failed);
}

}  // namespace

ResourceStatus ReadVersionResourceFromHead(int fd, uint64_t length, const uint8_t* head,
                                           size_t headLength, std::vector<uint8_t>* resource,
                                           bool* whole) {
  static_assert(kHeadSize >= kDosHeaderSize);
  if (!BeginsLikeImage(head, headLength)) return ResourceStatus::kAbsent;
  return ReadVersionResourceOf(fd, length, resource, whole);
}

ResourceStatus ReadVersionResourceOf(int fd, uint64_t length, std::vector<uint8_t>* resource,
                                     bool* whole) {
  OpenFile file{fd, length, false};
  const FileSource source{&file, ReadFromDescriptor};
  ImageBuffers* buffers = ThreadObject<ImageBuffers>();
  ImageBuffers fresh;
  const ResourceStatus status =
      ReadVersionResource(source, buffers != nullptr ? buffers : &fresh, resource);
  if (whole != nullptr && file.failed) *whole = false;
  return status;
}

VersionBlock* LoadVersionInfo(DirListing* listing, const std::string&) {
  ResourceStatus status;
  if (!TakeFetchedVersion(listing, &gBlock.resource, &status)) {
    uint64_t length;
    const int fd = OpenCurrentEntry(listing, &length);
    if (fd < 0) return nullptr;
    try {
      status = ReadVersionResourceOf(fd, length, &gBlock.resource, nullptr);
    } catch (const std::bad_alloc&) {
      // Read-ahead's memory is the walk's first: the walk's reserve may be spent already.
      if (!StopReadAhead()) throw;
      status = ReadVersionResourceOf(fd, length, &gBlock.resource, nullptr);
    }
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
