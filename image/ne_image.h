// Finding the version resource of a 16-bit New Executable (NE) image: the NE header that the MZ
// header's e_lfanew points at, and its resource table.
#pragma once

#include <cstdint>
#include <vector>

#include "image/file_reader.h"
#include "image/pe_image.h"

constexpr uint16_t kNeSignature = 0x454E;  // "NE"

// Finds the resource of type RT_VERSION with the integer id 1 in the NE image whose header is
// at `neHeader`, as Windows' version library picks it, and copies its bytes into `resource`:
// the whole declared extent (up to the block size that Windows reads), zeros where the file ends
// first. kCorrupt when not one byte of it is there.
ResourceStatus ReadNeVersionResource(FileReader& reader, uint64_t neHeader,
                                     std::vector<uint8_t>* resource);
