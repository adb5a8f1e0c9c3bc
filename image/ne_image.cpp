#include "image/ne_image.h"

#include <algorithm>

#include "image/byte_view.h"

namespace {

constexpr uint64_t kNeHeaderSize = 64;
constexpr uint64_t kResourceTableField = 0x24;  // both offsets are from the NE header
constexpr uint64_t kResidentNameTableField = 0x26;
constexpr uint64_t kTypeInfoSize = 8;   // type id, count, reserved
constexpr uint64_t kNameInfoSize = 12;  // offset, length, flags, id, handle, usage
constexpr uint16_t kIntegerId = 0x8000;
constexpr uint16_t kVersionType = kIntegerId | 16;
constexpr uint16_t kVersionId = kIntegerId | 1;
// Shifts this large would place resources past what a 32-bit file offset reaches.
constexpr uint16_t kMaxAlignmentShift = 31;
// Windows sizes the block of an NE resource as four times its length less the 52 bytes of a
// VS_FIXEDFILEINFO, and reads no more of the resource than that.
constexpr uint64_t kFixedFileInfoSize = 52;

// The resource table, in the reader's directory window unless it is already held.
bool HoldTable(FileReader& reader, uint64_t offset, uint64_t size, ByteView* table) {
  if (HeldView(*reader.buffers, offset, size, table)) return true;
  if (offset >= reader.fileEnd) return false;
  LoadWindow(reader, offset, static_cast<size_t>(size), &reader.buffers->directory);
  return HeldView(*reader.buffers, offset, size, table);
}

// Finds the name entry of the version resource in `table`. Each step moves forward by a whole
// type entry, so the walk ends within the table.
ResourceStatus FindVersionEntry(ByteView table, uint64_t* entry) {
  uint64_t at = 2;  // after the alignment shift
  uint16_t type = 0, count = 0;
  for (;;) {
    if (!ReadU16(table, at, &type)) return ResourceStatus::kCorrupt;
    if (type == 0) return ResourceStatus::kAbsent;
    if (!ReadU16(table, at + 2, &count) ||
        !HasBytes(table, at + kTypeInfoSize, uint64_t{count} * kNameInfoSize)) {
      return ResourceStatus::kCorrupt;
    }
    if (type == kVersionType) break;
    at += kTypeInfoSize + uint64_t{count} * kNameInfoSize;
  }
  // Only the first group of that type is searched, as Windows does.
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t name = at + kTypeInfoSize + i * kNameInfoSize;
    uint16_t id = 0;
    ReadU16(table, name + 6, &id);
    if (id == kVersionId) {
      *entry = name;
      return ResourceStatus::kFound;
    }
  }
  return ResourceStatus::kAbsent;
}

}  // namespace

ResourceStatus ReadNeVersionResource(FileReader& reader, uint64_t neHeader,
                                     std::vector<uint8_t>* resource) {
  ByteView header;
  if (!Fetch(reader, neHeader, kNeHeaderSize, &header)) return ResourceStatus::kCorrupt;
  uint16_t tableStart = 0, tableEnd = 0;
  ReadU16(header, kResourceTableField, &tableStart);
  ReadU16(header, kResidentNameTableField, &tableEnd);
  if (tableEnd == tableStart) return ResourceStatus::kAbsent;  // no resources at all
  if (tableEnd < tableStart) return ResourceStatus::kCorrupt;

  ByteView table;
  if (!HoldTable(reader, neHeader + tableStart, tableEnd - tableStart, &table)) {
    return ResourceStatus::kCorrupt;
  }
  uint16_t shift = 0;
  uint64_t entry = 0;
  if (!ReadU16(table, 0, &shift) || shift > kMaxAlignmentShift) return ResourceStatus::kCorrupt;
  const ResourceStatus found = FindVersionEntry(table, &entry);
  if (found != ResourceStatus::kFound) return found;

  uint16_t offsetUnits = 0, lengthUnits = 0;
  ReadU16(table, entry, &offsetUnits);
  ReadU16(table, entry + 2, &lengthUnits);
  const uint64_t offset = uint64_t{offsetUnits} << shift;
  const uint64_t length = uint64_t{lengthUnits} << shift;
  if (length <= kFixedFileInfoSize) return ResourceStatus::kAbsent;
  const uint64_t size =
      std::min({length, (length - kFixedFileInfoSize) * 4, uint64_t{kMaxVersionResourceSize}});
  // The last resource may run past the end of the file: its length counts whole alignment
  // units, which an unpadded file stops short of, or the file was cut. Windows' library reads
  // what is there into the caller's block, which the Win32 build allocates zeroed; so the rest
  // is zeros here too, and a block cut short is read as far as its bytes are there.
  if (!CopyUpTo(reader, offset, size, resource)) return ResourceStatus::kCorrupt;
  resource->resize(static_cast<size_t>(size));
  return ResourceStatus::kFound;
}
