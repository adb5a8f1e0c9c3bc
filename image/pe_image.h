// Finding the version resource of a PE image (PE32 or PE32+), reading only the headers, the
// section table, the resource directory and the resource itself; an MZ header that leads to a
// 16-bit NE header hands over to the NE reader (image/ne_image.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where the bytes of a file come from: a descriptor, or memory in tests and fuzzing.
struct FileSource {
  void* context = nullptr;
  // Reads up to `size` bytes at `offset` into `out` and returns how many it read; fewer than
  // asked means the end of the file (or an error, which is treated the same).
  size_t (*read)(void* context, uint64_t offset, uint8_t* out, size_t size) = nullptr;
};

enum class ResourceStatus {
  kFound,
  kAbsent,   // not a PE or NE image, or an image without a version resource
  kCorrupt,  // an image whose headers or resource directory cannot be trusted
};

// Every image begins with a DOS header of this size, whose first bytes are "MZ".
constexpr size_t kDosHeaderSize = 64;

// Whether a file whose first bytes (all of them, where it is shorter than kDosHeaderSize) are
// `head` may hold a version resource: false where the reader would find none from them alone.
bool BeginsLikeImage(const uint8_t* head, size_t length);

// The largest version resource read; its tree's wLength cannot describe more.
constexpr uint32_t kMaxVersionResourceSize = 64 * 1024;

// A span of the file held in memory.
struct FileWindow {
  std::vector<uint8_t> bytes;  // capacity kept between files; only `length` bytes are valid
  uint64_t offset = 0;
  size_t length = 0;
};

// Buffers kept by the caller so that a walk over many files reuses them.
struct ImageBuffers {
  FileWindow headers;    // the start of the file
  FileWindow directory;  // the resource directory and, usually, the resources
  FileWindow spill;      // a structure that lies outside both
};

// Finds the version resource (type 16, name 1; language neutral, else 0x0409, else the first
// listed) and copies its bytes into `resource`.
ResourceStatus ReadVersionResource(const FileSource& source, ImageBuffers* buffers,
                                   std::vector<uint8_t>* resource);
