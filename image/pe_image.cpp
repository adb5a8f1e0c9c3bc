#include "image/pe_image.h"

#include <algorithm>
#include <cstring>

#include "image/byte_view.h"
#include "image/file_reader.h"
#include "image/ne_image.h"

namespace {

// The first read covers the DOS header, the PE headers and the section table of nearly every
// image; the second, the whole resource directory and usually the resources as well.
constexpr size_t kHeadersReadSize = 4096;
constexpr size_t kDirectoryReadSize = 64 * 1024;

constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr uint32_t kVersionType = 16;
constexpr uint32_t kVersionName = 1;

// A run of file bytes that the structures inside it must not leave.
struct Region {
  uint64_t offset = 0;
  uint64_t length = 0;
};

bool Fits(uint64_t length, uint64_t offset, uint64_t size) {
  return offset <= length && length - offset >= size;
}

struct Image {
  uint64_t neHeader = 0;  // where the NE header is, in a New Executable; 0 otherwise
  uint64_t sectionTable = 0;
  uint16_t sectionCount = 0;
  uint32_t resourceRva = 0;
};

}  // namespace

bool BeginsLikeImage(const uint8_t* head, size_t length) {
  return length >= kDosHeaderSize && head[0] == 'M' && head[1] == 'Z';
}

namespace {

ResourceStatus ReadHeaders(FileReader& reader, Image* image) {
  ByteView dos;
  uint32_t peOffset = 0;
  if (!Fetch(reader, 0, kDosHeaderSize, &dos) || !BeginsLikeImage(dos.data, dos.size)) {
    return ResourceStatus::kAbsent;
  }
  ReadU32(dos, 0x3c, &peOffset);

  // A New Executable's header carries its own resource table.
  ByteView newHeader;
  uint16_t newSignature = 0;
  if (Fetch(reader, peOffset, 2, &newHeader) && ReadU16(newHeader, 0, &newSignature) &&
      newSignature == kNeSignature) {
    image->neHeader = peOffset;
    return ResourceStatus::kFound;
  }

  // The signature and the file header; without them this is a DOS program, not a PE image.
  ByteView pe;
  uint32_t signature = 0;
  if (!Fetch(reader, peOffset, 4 + 20, &pe)) return ResourceStatus::kAbsent;
  ReadU32(pe, 0, &signature);
  if (signature != 0x00004550) return ResourceStatus::kAbsent;
  uint16_t optionalSize = 0;
  ReadU16(pe, 4 + 2, &image->sectionCount);
  ReadU16(pe, 4 + 16, &optionalSize);

  const uint64_t optionalOffset = uint64_t{peOffset} + 4 + 20;
  ByteView magicView;
  uint16_t magic = 0;
  if (!Fetch(reader, optionalOffset, 2, &magicView)) return ResourceStatus::kCorrupt;
  ReadU16(magicView, 0, &magic);
  uint32_t directoryCountOffset = 0;
  if (magic == kPe32Magic) {
    directoryCountOffset = 92;
  } else if (magic == kPe32PlusMagic) {
    directoryCountOffset = 108;
  } else {
    return ResourceStatus::kCorrupt;
  }
  const uint32_t directoriesOffset = directoryCountOffset + 4;
  ByteView optional;
  uint32_t directoryCount = 0;
  if (!Fetch(reader, optionalOffset, directoriesOffset, &optional)) return ResourceStatus::kCorrupt;
  ReadU32(optional, directoryCountOffset, &directoryCount);
  if (uint64_t{directoriesOffset} + uint64_t{directoryCount} * 8 > optionalSize) {
    return ResourceStatus::kCorrupt;
  }
  if (directoryCount <= kResourceDirectoryIndex) return ResourceStatus::kAbsent;

  ByteView directory;
  uint32_t resourceSize = 0;
  if (!Fetch(reader, optionalOffset + directoriesOffset + kResourceDirectoryIndex * 8, 8,
             &directory)) {
    return ResourceStatus::kCorrupt;
  }
  ReadU32(directory, 0, &image->resourceRva);
  ReadU32(directory, 4, &resourceSize);
  if (image->resourceRva == 0 || resourceSize == 0) return ResourceStatus::kAbsent;
  image->sectionTable = optionalOffset + optionalSize;
  return ResourceStatus::kFound;
}

// The file bytes behind `rva`: from there to the end of what its section both maps and stores.
bool MapRva(FileReader& reader, const Image& image, uint32_t rva, Region* region) {
  for (uint32_t i = 0; i < image.sectionCount; ++i) {
    ByteView header;
    if (!Fetch(reader, image.sectionTable + uint64_t{i} * kSectionHeaderSize, kSectionHeaderSize,
               &header)) {
      return false;
    }
    uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawOffset = 0;
    ReadU32(header, 8, &virtualSize);
    ReadU32(header, 12, &virtualAddress);
    ReadU32(header, 16, &rawSize);
    ReadU32(header, 20, &rawOffset);
    // Some linkers leave the virtual size 0; the loader then maps the raw size.
    const uint32_t mapped = virtualSize != 0 ? virtualSize : rawSize;
    if (rva < virtualAddress) continue;
    const uint32_t into = rva - virtualAddress;
    if (into >= mapped || into >= rawSize) continue;
    // Windows' version library reads what the section stores, also where a structure runs on
    // past the virtual size.
    region->offset = uint64_t{rawOffset} + into;
    region->length = rawSize - into;
    return true;
  }
  return false;
}

// The `size` bytes at `offset` within the resource directory.
bool FetchResourceBytes(FileReader& reader, const Region& resources, uint64_t offset, uint64_t size,
                        ByteView* view) {
  return Fits(resources.length, offset, size) &&
         Fetch(reader, resources.offset + offset, size, view);
}

// Looks in the resource directory table at `table` (relative to the directory's start) for the
// entry named by the ID `id`, or, with `id` < 0, for the preferred language. Its OffsetToData
// goes to `target`.
ResourceStatus FindEntry(FileReader& reader, const Region& resources, uint32_t table, int64_t id,
                         uint32_t* target) {
  ByteView header;
  if (!FetchResourceBytes(reader, resources, table, kDirectoryHeaderSize, &header)) {
    return ResourceStatus::kCorrupt;
  }
  uint16_t named = 0, numbered = 0;
  ReadU16(header, 12, &named);
  ReadU16(header, 14, &numbered);
  const uint64_t count = uint64_t{named} + numbered;
  const uint64_t entries = uint64_t{table} + kDirectoryHeaderSize;
  if (!Fits(resources.length, entries, count * kDirectoryEntrySize)) {
    return ResourceStatus::kCorrupt;
  }
  int bestRank = 3;  // languages: 0 neutral, 1 US English, 2 the first listed
  for (uint64_t i = 0; i < count; ++i) {
    ByteView entry;
    if (!Fetch(reader, resources.offset + entries + i * kDirectoryEntrySize, kDirectoryEntrySize,
               &entry)) {
      return ResourceStatus::kCorrupt;
    }
    uint32_t name = 0, offset = 0;
    ReadU32(entry, 0, &name);
    ReadU32(entry, 4, &offset);
    if (id >= 0) {
      if (name == id) {
        *target = offset;
        return ResourceStatus::kFound;
      }
      continue;
    }
    const int rank = name == 0 ? 0 : name == 0x409 ? 1 : i == 0 ? 2 : 3;
    if (rank < bestRank) {
      bestRank = rank;
      *target = offset;
      if (rank == 0) break;
    }
  }
  return bestRank < 3 ? ResourceStatus::kFound : ResourceStatus::kAbsent;
}

// Walks the three levels (type, name, language) to the version resource's data entry. A fixed
// depth, so that an entry pointing back up the tree cannot make it loop.
ResourceStatus FindVersionDataEntry(FileReader& reader, const Region& resources,
                                    uint32_t* dataEntry) {
  const int64_t wanted[3] = {kVersionType, kVersionName, -1};
  uint32_t table = 0;
  for (int level = 0; level < 3; ++level) {
    uint32_t offset = 0;
    const ResourceStatus found = FindEntry(reader, resources, table, wanted[level], &offset);
    if (found != ResourceStatus::kFound) return found;
    const bool subdirectory = (offset & kSubdirectoryFlag) != 0;
    if (subdirectory != (level < 2)) return ResourceStatus::kCorrupt;
    table = offset & ~kSubdirectoryFlag;
  }
  *dataEntry = table;
  return ResourceStatus::kFound;
}

}  // namespace

ResourceStatus ReadVersionResource(const FileSource& source, ImageBuffers* buffers,
                                   std::vector<uint8_t>* resource) {
  resource->clear();
  buffers->headers.length = 0;
  buffers->directory.length = 0;
  buffers->spill.length = 0;
  FileReader reader{&source, buffers};
  LoadWindow(reader, 0, kHeadersReadSize, &buffers->headers);

  Image image;
  const ResourceStatus headers = ReadHeaders(reader, &image);
  if (headers != ResourceStatus::kFound) return headers;
  if (image.neHeader != 0) return ReadNeVersionResource(reader, image.neHeader, resource);
  Region resources;
  if (!MapRva(reader, image, image.resourceRva, &resources)) return ResourceStatus::kCorrupt;

  const size_t directorySize =
      static_cast<size_t>(std::min<uint64_t>(resources.length, kDirectoryReadSize));
  ByteView held;
  if (!HeldView(*buffers, resources.offset, directorySize, &held) &&
      resources.offset < reader.fileEnd) {
    LoadWindow(reader, resources.offset, directorySize, &buffers->directory);
  }

  uint32_t dataEntryOffset = 0;
  const ResourceStatus walked = FindVersionDataEntry(reader, resources, &dataEntryOffset);
  if (walked != ResourceStatus::kFound) return walked;
  ByteView dataEntry;
  if (!FetchResourceBytes(reader, resources, dataEntryOffset, kDataEntrySize, &dataEntry)) {
    return ResourceStatus::kCorrupt;
  }
  uint32_t dataRva = 0, dataSize = 0;
  ReadU32(dataEntry, 0, &dataRva);
  ReadU32(dataEntry, 4, &dataSize);
  Region data;
  if (dataSize == 0 || dataSize > kMaxVersionResourceSize ||
      !MapRva(reader, image, dataRva, &data) || data.length < dataSize) {
    return ResourceStatus::kCorrupt;
  }

  if (!CopySpan(reader, data.offset, dataSize, resource)) return ResourceStatus::kCorrupt;
  return ResourceStatus::kFound;
}
