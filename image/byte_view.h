// A bounds-checked view of bytes: every read of file contents goes through it.
#pragma once

#include <cstddef>
#include <cstdint>

// `size` bytes at `data`. Offsets and lengths are taken as 64-bit values and checked by
// subtraction, so no sum can wrap and no pointer outside the bytes is ever formed.
struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

inline bool HasBytes(ByteView view, uint64_t offset, uint64_t length) {
  return offset <= view.size && view.size - offset >= length;
}

inline bool ReadU8(ByteView view, uint64_t offset, uint8_t* value) {
  if (!HasBytes(view, offset, 1)) return false;
  *value = view.data[offset];
  return true;
}

// Little-endian, composed from bytes so that the host's byte order never matters.
inline bool ReadU16(ByteView view, uint64_t offset, uint16_t* value) {
  if (!HasBytes(view, offset, 2)) return false;
  const uint8_t* p = view.data + offset;
  *value = static_cast<uint16_t>(p[0] | (p[1] << 8));
  return true;
}

inline bool ReadU32(ByteView view, uint64_t offset, uint32_t* value) {
  if (!HasBytes(view, offset, 4)) return false;
  const uint8_t* p = view.data + offset;
  *value = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return true;
}

// The `length` bytes at `offset`, as a view with its own bounds.
inline bool Slice(ByteView view, uint64_t offset, uint64_t length, ByteView* part) {
  if (!HasBytes(view, offset, length)) return false;
  part->data = view.data + offset;
  part->size = static_cast<size_t>(length);
  return true;
}
