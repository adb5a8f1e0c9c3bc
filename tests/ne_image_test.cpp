// Finding the version resource in 16-bit NE images, well-formed and damaged.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fixtures/counted_read.h"
#include "fixtures/ne_image_writer.h"
#include "image/pe_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A version resource told apart from others by its file version.
Bytes Version(uint16_t tag) {
  VersionInfo16Spec spec;
  spec.fileVersion = uint64_t{tag} << 48;
  spec.tables = {{"040904E4", {{"CompanyName", "Lumo Sample Works"}}}};
  return BuildVersionResource16(spec);
}

// Offsets in the NE header and the resource table's entries.
constexpr size_t kResourceTableField = 0x24, kResidentNamesField = 0x26;
constexpr size_t kCount = 2, kOffset = 0, kLength = 2, kId = 6;

uint16_t U16At(const Bytes& b, size_t offset) {
  return static_cast<uint16_t>(b[offset] | (b[offset + 1] << 8));
}

struct NeCase {
  const char* name;
  NeImageSpec spec;
  std::function<void(Bytes*, const NeLayout&)> damage;
  ResourceStatus expected;
  uint16_t found = 0;  // the tag of the version found
};

NeImageSpec With(std::vector<NeResource> resources, uint16_t shift = 4, bool padded = true) {
  return {std::move(resources), shift, padded};
}

void Keep(Bytes*, const NeLayout&) {}

TEST(NeImageTest, FindsTheVersionResourceAsWindowsPicksIt) {
  const NeResource icon{0x8003, 0x8001, Bytes(40, 0x11)};
  const NeCase cases[] = {
      {"the only resource", With({{0x8010, 0x8001, Version(1)}}), Keep, ResourceStatus::kFound, 1},
      {"alignment shift 0", With({{0x8010, 0x8001, Version(1)}}, 0), Keep, ResourceStatus::kFound,
       1},
      {"alignment shift 9, after other types",
       With({icon, {0x8006, 0x8007, Bytes(20, 2)}, {0x8010, 0x8001, Version(1)}}, 9), Keep,
       ResourceStatus::kFound, 1},
      {"id 1 among others", With({{0x8010, 0x8002, Version(2)}, {0x8010, 0x8001, Version(1)}}),
       Keep, ResourceStatus::kFound, 1},
      {"the file ends inside the last unit", With({{0x8010, 0x8001, Version(1)}}, 9, false), Keep,
       ResourceStatus::kFound, 1},
      {"only id 2", With({{0x8010, 0x8002, Version(2)}}), Keep, ResourceStatus::kAbsent},
      {"a named version resource, not the id 1", With({{0x8010, 0x0001, Version(1)}}), Keep,
       ResourceStatus::kAbsent},
      {"no version resource", With({icon}), Keep, ResourceStatus::kAbsent},
      {"no resource table", With({{0x8010, 0x8001, Version(1)}}),
       [](Bytes* b, const NeLayout& l) {
         PutU16(b, l.neHeader + kResidentNamesField, U16At(*b, l.neHeader + kResourceTableField));
       },
       ResourceStatus::kAbsent},
      {"id 1 only in a second group of the type",
       With({{0x8010, 0x8002, Version(2)}, {0x8003, 0x8001, Version(1)}}),
       [](Bytes* b, const NeLayout& l) { PutU16(b, l.typeInfos[1], 0x8010); },
       ResourceStatus::kAbsent},
      {"a resource of 48 bytes", With({{0x8010, 0x8001, Version(1)}}),
       [](Bytes* b, const NeLayout& l) { PutU16(b, l.nameInfos[0] + kLength, 3); },
       ResourceStatus::kAbsent},
      // Damaged.
      {"resource past the end of the file", With({{0x8010, 0x8001, Version(1)}}),
       [](Bytes* b, const NeLayout& l) { PutU16(b, l.nameInfos[0] + kOffset, 0xFFF0); },
       ResourceStatus::kCorrupt},
      {"a count running off the table", With({icon, {0x8010, 0x8001, Version(1)}}),
       [](Bytes* b, const NeLayout& l) { PutU16(b, l.typeInfos[0] + kCount, 0xFFFF); },
       ResourceStatus::kCorrupt},
      {"a table without its end", With({icon}),
       [](Bytes* b, const NeLayout& l) {
         PutU16(b, l.neHeader + kResidentNamesField,
                static_cast<uint16_t>(l.typeInfos[0] + 8 + 12 - l.neHeader));
       },
       ResourceStatus::kCorrupt},
      {"a table ending before it starts", With({{0x8010, 0x8001, Version(1)}}),
       [](Bytes* b, const NeLayout& l) { PutU16(b, l.neHeader + kResidentNamesField, 0x10); },
       ResourceStatus::kCorrupt},
      {"a table past the end of the file", With({{0x8010, 0x8001, Version(1)}}),
       [](Bytes* b, const NeLayout& l) {
         PutU16(b, l.neHeader + kResourceTableField, 0xF000);
         PutU16(b, l.neHeader + kResidentNamesField, 0xF100);
       },
       ResourceStatus::kCorrupt},
      {"an alignment shift of 40", With({{0x8010, 0x8001, Version(1)}}),
       [](Bytes* b, const NeLayout& l) { PutU16(b, l.resourceTable, 40); },
       ResourceStatus::kCorrupt},
      {"the NE header cut short", With({{0x8010, 0x8001, Version(1)}}),
       [](Bytes* b, const NeLayout& l) { b->resize(l.neHeader + 0x30); }, ResourceStatus::kCorrupt},
  };
  for (const NeCase& c : cases) {
    SCOPED_TRACE(c.name);
    NeLayout layout;
    Bytes image = BuildNeImage(c.spec, &layout);
    c.damage(&image, layout);
    const CountedRead result = ReadCounted(image);
    EXPECT_EQ(result.status, c.expected);
    EXPECT_LE(result.reads, 3);
    if (c.expected != ResourceStatus::kFound) {
      EXPECT_TRUE(result.resource.empty());
      continue;
    }
    // The resource runs to the end of its last unit, or of the file.
    const Bytes version = Version(c.found);
    ASSERT_GE(result.resource.size(), version.size());
    EXPECT_EQ(Bytes(result.resource.begin(), result.resource.begin() + version.size()), version);
    EXPECT_LT(result.resource.size(), version.size() + (size_t{1} << c.spec.alignmentShift));
  }
}

TEST(NeImageTest, AResourceCutByTheEndOfTheFileIsWhatIsThereThenZeros) {
  const Bytes version = Version(1);
  const size_t declared = (version.size() + 15) / 16 * 16;  // whole units of 16 bytes
  const struct {
    size_t there;
    ResourceStatus expected;
  } cases[] = {
      {0, ResourceStatus::kCorrupt},
      {1, ResourceStatus::kFound},
      {5, ResourceStatus::kFound},
      {version.size() / 2, ResourceStatus::kFound},
      {version.size() - 1, ResourceStatus::kFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.there);
    NeImageSpec spec = With({{0x8010, 0x8001, version}});
    spec.cutInLast = static_cast<int32_t>(c.there);
    const CountedRead result = ReadCounted(BuildNeImage(spec));
    EXPECT_EQ(result.status, c.expected);
    Bytes expected;
    if (c.expected == ResourceStatus::kFound) {
      expected.assign(version.begin(), version.begin() + static_cast<ptrdiff_t>(c.there));
      expected.resize(declared);
    }
    EXPECT_EQ(result.resource, expected);
  }
}

TEST(NeImageTest, ALargeResourceIsReadUpToTheLargestBlock) {
  // One unit of 64 KiB: more than a version block can describe.
  NeImageSpec spec = With({{0x8010, 0x8001, Version(1)}}, 16);
  const CountedRead result = ReadCounted(BuildNeImage(spec));
  EXPECT_EQ(result.status, ResourceStatus::kFound);
  EXPECT_EQ(result.resource.size(), kMaxVersionResourceSize);
}

}  // namespace
