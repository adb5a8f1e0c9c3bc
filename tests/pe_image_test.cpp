// Finding the version resource in PE images, well-formed and damaged.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fixtures/counted_read.h"
#include "fixtures/pe_image_writer.h"
#include "image/byte_view.h"
#include "image/pe_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

CountedRead Read(const Bytes& image) {
  return ReadCounted(image);
}

// A version resource told apart from others by its Translation value.
Bytes Version(uint16_t language) {
  VersionInfoSpec spec;
  spec.tables = {{"040904B0", {{u"CompanyName", u"Lumo Sample Works"}}}};
  spec.translation = {language, 0x04B0};
  return BuildVersionResource(spec);
}

ResourceSpec VersionIn(uint16_t language) {
  return {16, 1, language, Version(language)};
}

PeImageSpec ImageWith(std::vector<ResourceSpec> resources) {
  PeImageSpec spec;
  spec.resources = std::move(resources);
  return spec;
}

struct FoundCase {
  const char* name;
  PeImageSpec spec;
  uint16_t language;  // of the resource that must be chosen
  int reads;
};

TEST(PeImageTest, FindsTheVersionResourceWithinItsReadBudget) {
  PeImageSpec pe32Plus = ImageWith({VersionIn(0x0409)});
  pe32Plus.pe32Plus = true;
  PeImageSpec farSection = ImageWith({VersionIn(0x0409)});
  farSection.textSize = 0x3000;  // the resource directory lies beyond the first read
  PeImageSpec farData = farSection;
  farData.resourceDataGap = 70000;  // and the resource beyond the directory's read
  const ResourceSpec icon{3, 1, 0x0409, Bytes(40, 0x11)};
  const ResourceSpec strings{6, 7, 0x0409, Bytes(20, 0x22)};
  const FoundCase cases[] = {
      {"PE32", ImageWith({VersionIn(0x0409)}), 0x0409, 1},
      {"PE32+", pe32Plus, 0x0409, 1},
      {"after other types", ImageWith({icon, strings, VersionIn(0x0409)}), 0x0409, 1},
      {"neutral first", ImageWith({VersionIn(0x0411), VersionIn(0x0409), VersionIn(0)}), 0, 1},
      {"then US English", ImageWith({VersionIn(0x0411), VersionIn(0x0409)}), 0x0409, 1},
      {"else the first listed", ImageWith({VersionIn(0x0411), VersionIn(0x0407)}), 0x0411, 1},
      {"directory past 4 KiB", farSection, 0x0409, 2},
      {"data past the directory's read", farData, 0x0409, 3},
  };
  for (const FoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    const CountedRead result = Read(BuildPeImage(c.spec));
    EXPECT_EQ(result.status, ResourceStatus::kFound);
    EXPECT_EQ(result.resource, Version(c.language));
    EXPECT_EQ(result.reads, c.reads);
  }
}

TEST(PeImageTest, OtherFilesHaveNoVersionResource) {
  const Bytes text = {'M', 'Z', ' ', 'i', 's', ' ', 'n', 'o', 't', ' ', 'P', 'E', '\n'};
  PeImageSpec otherName = ImageWith({{16, 2, 0x0409, Version(0x0409)}});
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {
      {"empty", {}},
      {"short text beginning MZ", text},
      {"text", Bytes(5000, 'a')},
      {"DOS program", DosProgram()},
      {"no resources", BuildPeImage(PeImageSpec())},
      {"only an icon", BuildPeImage(ImageWith({{3, 1, 0x0409, Bytes(40, 1)}}))},
      {"version resource not named 1", BuildPeImage(otherName)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CountedRead result = Read(c.file);
    EXPECT_EQ(result.status, ResourceStatus::kAbsent);
    EXPECT_TRUE(result.resource.empty());
    EXPECT_LE(result.reads, 1);
  }
}

struct DamageCase {
  const char* name;
  std::function<void(Bytes*, const PeLayout&)> damage;
  ResourceStatus expected;
};

TEST(PeImageTest, DamagedImagesAreRefused) {
  // Offsets within the structures, as the PE format lays them out.
  constexpr size_t kSectionCount = 2, kOptionalHeaderSize = 16, kDirectoryCount = 92;
  constexpr size_t kVirtualSize = 8, kRawSize = 16, kDataSize = 4;
  constexpr size_t kFirstEntryTarget = 16 + 4;  // after the directory header
  const DamageCase cases[] = {
      {"e_lfanew past the end", [](Bytes* b, const PeLayout&) { PutU32(b, 0x3C, 0x7FFFFFF0); },
       ResourceStatus::kAbsent},
      {"no PE signature", [](Bytes* b, const PeLayout& l) { (*b)[l.peHeader] = 'N'; },
       ResourceStatus::kAbsent},
      {"unknown optional header",
       [](Bytes* b, const PeLayout& l) { PutU16(b, l.optionalHeader, 0x107); },
       ResourceStatus::kCorrupt},
      {"optional header too small for its directories",
       [](Bytes* b, const PeLayout& l) { PutU16(b, l.peHeader + 4 + kOptionalHeaderSize, 96); },
       ResourceStatus::kCorrupt},
      {"directory count past the optional header",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.optionalHeader + kDirectoryCount, 17); },
       ResourceStatus::kCorrupt},
      {"no resource directory",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.optionalHeader + kDirectoryCount, 2); },
       ResourceStatus::kAbsent},
      {"section count 0",
       [](Bytes* b, const PeLayout& l) { PutU16(b, l.peHeader + 4 + kSectionCount, 0); },
       ResourceStatus::kCorrupt},
      {"resource RVA outside any section",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.resourceDataDirectory, 0x9000); },
       ResourceStatus::kCorrupt},
      {"type entry pointing at the root",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.rsrc + kFirstEntryTarget, 0x80000000); },
       ResourceStatus::kAbsent},
      {"name directory pointing at itself",
       [](Bytes* b, const PeLayout& l) {
         uint32_t names = 0;
         ReadU32({b->data(), b->size()}, l.rsrc + kFirstEntryTarget, &names);
         PutU32(b, l.rsrc + (names & 0x7FFFFFFF) + kFirstEntryTarget, names);
       },
       ResourceStatus::kCorrupt},
      {"type entry pointing at a data entry",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.rsrc + kFirstEntryTarget, 0); },
       ResourceStatus::kCorrupt},
      {"root claiming more entries than the section holds",
       [](Bytes* b, const PeLayout& l) { PutU16(b, l.rsrc + 14, 0xFFFF); },
       ResourceStatus::kCorrupt},
      {"resource claiming 4 GiB",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.dataEntries[0] + kDataSize, 0xFFFFFFFF); },
       ResourceStatus::kCorrupt},
      {"resource running past its section",
       [](Bytes* b, const PeLayout& l) {
         PutU32(b, l.dataEntries[0] + kDataSize, static_cast<uint32_t>(b->size() - l.data[0] + 1));
       },
       ResourceStatus::kCorrupt},
      {"resource of size 0",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.dataEntries[0] + kDataSize, 0); },
       ResourceStatus::kCorrupt},
      {"resource beyond the section's virtual size",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.rsrcSectionHeader + kVirtualSize, 0x80); },
       ResourceStatus::kCorrupt},
      {"resource beyond the section's raw size",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.rsrcSectionHeader + kRawSize, 0x80); },
       ResourceStatus::kCorrupt},
      {"resource ending where the section's virtual size does",
       [](Bytes* b, const PeLayout& l) {
         const size_t end = l.data[0] - l.rsrc + Version(0x0409).size();
         PutU32(b, l.rsrcSectionHeader + kVirtualSize, static_cast<uint32_t>(end));
       },
       ResourceStatus::kFound},
      {"resource running past the section's virtual size, within its raw size",
       [](Bytes* b, const PeLayout& l) {
         PutU32(b, l.rsrcSectionHeader + kVirtualSize,
                static_cast<uint32_t>(l.data[0] - l.rsrc + 4));
       },
       ResourceStatus::kFound},
      {"virtual size 0 maps the raw size",
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.rsrcSectionHeader + kVirtualSize, 0); },
       ResourceStatus::kFound},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    // The data 0x98 bytes into .rsrc, past the directory's 0x58: the section sizes of 0x80
    // cut between them.
    PeImageSpec spec = ImageWith({VersionIn(0x0409)});
    spec.resourceDataGap = 64;
    PeLayout layout;
    Bytes image = BuildPeImage(spec, &layout);
    ASSERT_EQ(layout.data[0] - layout.rsrc, 0x98u);
    c.damage(&image, layout);
    const CountedRead result = Read(image);
    EXPECT_EQ(result.status, c.expected);
    EXPECT_LE(result.reads, 3);
    if (c.expected == ResourceStatus::kFound) {
      EXPECT_EQ(result.resource, Version(0x0409));
    }
  }
}

TEST(PeImageTest, TruncatedImagesYieldTheResourceOnlyWhenItIsWhole) {
  for (bool pe32Plus : {false, true}) {
    PeLayout layout;
    PeImageSpec spec = ImageWith({{3, 1, 0, Bytes(64, 3)}, VersionIn(0x0409)});
    spec.pe32Plus = pe32Plus;
    const Bytes image = BuildPeImage(spec, &layout);
    const size_t end = layout.data[1] + Version(0x0409).size();
    for (size_t size = 0; size <= image.size(); ++size) {
      SCOPED_TRACE(size);
      const CountedRead result = Read(Truncated(image, size));
      ASSERT_EQ(result.status == ResourceStatus::kFound, size >= end);
      ASSERT_LE(result.reads, 3);
    }
  }
}

}  // namespace
