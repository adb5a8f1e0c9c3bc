// Reading spans of a file through the caller's windows, so that the structures of one image
// take a few reads and a walk over many files reuses the same buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/byte_view.h"
#include "image/pe_image.h"

struct FileReader {
  const FileSource* source;
  ImageBuffers* buffers;
  uint64_t fileEnd = UINT64_MAX;  // known once a read comes up short
};

// Reads up to `size` bytes at `offset` into `window`.
void LoadWindow(FileReader& reader, uint64_t offset, size_t size, FileWindow* window);

// The `size` bytes at file offset `offset`, if one of the windows holds them.
bool HeldView(const ImageBuffers& buffers, uint64_t offset, uint64_t size, ByteView* view);

// The `size` bytes at file offset `offset`, from what is held or else from one more read.
// Only for structures of a few kilobytes at most; false when the file ends first.
bool Fetch(FileReader& reader, uint64_t offset, uint64_t size, ByteView* view);

// Copies the `size` bytes at `offset` into `out`, from what is held or else by reading them;
// false, with `out` empty, when the file ends first.
bool CopySpan(FileReader& reader, uint64_t offset, uint64_t size, std::vector<uint8_t>* out);

// Copies up to `size` bytes at `offset` into `out`, fewer where the file ends first; false, with
// `out` empty, when not one byte is there.
bool CopyUpTo(FileReader& reader, uint64_t offset, uint64_t size, std::vector<uint8_t>* out);
