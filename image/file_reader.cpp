#include "image/file_reader.h"

#include <algorithm>

namespace {

constexpr size_t kSpillReadSize = 4096;

bool WindowView(const FileWindow& window, uint64_t offset, uint64_t size, ByteView* view) {
  if (offset < window.offset) return false;
  const ByteView held{window.bytes.data(), window.length};
  return Slice(held, offset - window.offset, size, view);
}

}  // namespace

void LoadWindow(FileReader& reader, uint64_t offset, size_t size, FileWindow* window) {
  if (window->bytes.size() < size) window->bytes.resize(size);
  window->offset = offset;
  const FileSource& source = *reader.source;
  const size_t got = source.read(source.context, offset, window->bytes.data(), size);
  window->length = got <= size ? got : 0;
  if (window->length < size) reader.fileEnd = std::min(reader.fileEnd, offset + window->length);
}

bool HeldView(const ImageBuffers& buffers, uint64_t offset, uint64_t size, ByteView* view) {
  return WindowView(buffers.headers, offset, size, view) ||
         WindowView(buffers.directory, offset, size, view) ||
         WindowView(buffers.spill, offset, size, view);
}

bool Fetch(FileReader& reader, uint64_t offset, uint64_t size, ByteView* view) {
  if (HeldView(*reader.buffers, offset, size, view)) return true;
  if (size > kSpillReadSize || offset >= reader.fileEnd || reader.fileEnd - offset < size) {
    return false;
  }
  LoadWindow(reader, offset, kSpillReadSize, &reader.buffers->spill);
  return WindowView(reader.buffers->spill, offset, size, view);
}

bool CopyUpTo(FileReader& reader, uint64_t offset, uint64_t size, std::vector<uint8_t>* out) {
  out->clear();
  ByteView bytes;
  if (HeldView(*reader.buffers, offset, size, &bytes)) {
    out->assign(bytes.data, bytes.data + bytes.size);
    return true;
  }
  if (offset >= reader.fileEnd) return false;
  out->resize(static_cast<size_t>(size));
  const FileSource& source = *reader.source;
  const size_t got = source.read(source.context, offset, out->data(), out->size());
  out->resize(got <= out->size() ? got : 0);
  if (out->size() < size) reader.fileEnd = std::min(reader.fileEnd, offset + out->size());
  return !out->empty();
}

bool CopySpan(FileReader& reader, uint64_t offset, uint64_t size, std::vector<uint8_t>* out) {
  // A span already known to run past the end is not read.
  const bool fits = offset < reader.fileEnd && reader.fileEnd - offset >= size;
  if (fits && CopyUpTo(reader, offset, size, out) && out->size() == size) return true;
  out->clear();
  return false;
}
