// Hostile PE images and version resources: each damage yields its own result, within a few
// reads, and nothing outside the file or the resource is ever touched.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fixtures/counted_read.h"
#include "fixtures/pe_image_writer.h"
#include "image/byte_view.h"
#include "image/pe_image.h"
#include "image/version_resource.h"
#include "platform/posix/output_charset.h"

namespace {

using Bytes = std::vector<uint8_t>;

CountedRead Read(const Bytes& image) {
  return ReadCounted(image);
}

VersionInfoSpec Sample() {
  VersionInfoSpec spec;
  spec.tables = {{"040904B0", {{u"CompanyName", u"Lumo Sample Works"}, {u"ProductName", u"Lumo"}}},
                 {"041103a4", {{u"CompanyName", u"Lumo JP"}}}};
  spec.translation = {0x0409, 0x04B0, 0x0411, 0x03A4};
  return spec;
}

uint32_t U32At(const Bytes& b, size_t offset) {
  uint32_t value = 0;
  ReadU32({b.data(), b.size()}, offset, &value);
  return value;
}

// Offsets within the structures, as the PE format lays them out.
constexpr size_t kSectionCount = 4 + 2, kOptionalHeaderSize = 4 + 16;  // from "PE\0\0"
constexpr size_t kVirtualSize = 8, kRawSize = 16, kRawOffset = 20;     // in a section header
constexpr size_t kFirstEntryTarget = 16 + 4;  // in a directory table, after its header

// The file offset of the directory table that the first entry of the table at `table` leads to.
size_t Subtable(const Bytes& b, const PeLayout& l, size_t table) {
  return l.rsrc + (U32At(b, table + kFirstEntryTarget) & 0x7FFFFFFF);
}

// .rsrc claiming 256 MiB, mapped and stored: the file ends long before the section does.
void HugeSection(Bytes* b, const PeLayout& l) {
  PutU32(b, l.rsrcSectionHeader + kVirtualSize, 0x10000000);
  PutU32(b, l.rsrcSectionHeader + kRawSize, 0x10000000);
}

struct ImageCase {
  const char* name;
  bool pe32Plus;
  std::function<void(Bytes*, const PeLayout&)> damage;
  ResourceStatus expected;
};

TEST(PeMalformedTest, HostileHeadersAndDirectories) {
  const ImageCase cases[] = {
      {"name and language directories pointing at each other", false,
       [](Bytes* b, const PeLayout& l) {
         const size_t names = Subtable(*b, l, l.rsrc);
         const size_t languages = Subtable(*b, l, names);
         PutU32(b, languages + kFirstEntryTarget,
                0x80000000 | static_cast<uint32_t>(names - l.rsrc));
       },
       ResourceStatus::kCorrupt},
      {"subdirectory offset past the end of the file", false,
       [](Bytes* b, const PeLayout& l) {
         HugeSection(b, l);
         PutU32(b, l.rsrc + kFirstEntryTarget, 0x80000000 | 0x0FFFFFF0);
       },
       ResourceStatus::kCorrupt},
      {"data entry offset past the end of the file", false,
       [](Bytes* b, const PeLayout& l) {
         HugeSection(b, l);
         const size_t languages = Subtable(*b, l, Subtable(*b, l, l.rsrc));
         PutU32(b, languages + kFirstEntryTarget, 0x0FFFFFF0);
       },
       ResourceStatus::kCorrupt},
      {"resource data past the end of the file", false,
       [](Bytes* b, const PeLayout& l) {
         HugeSection(b, l);
         PutU32(b, l.dataEntries[0], l.rsrcRva + 0x100000);
       },
       ResourceStatus::kCorrupt},
      {"section larger than the file around a whole resource", false, HugeSection,
       ResourceStatus::kFound},
      {"data entry last in its section and in the file", false,
       [](Bytes* b, const PeLayout& l) {
         // Moved to just after the resource, where the section and the file now end.
         b->resize(l.data[0] + BuildVersionResource(Sample()).size());
         const Bytes entry(b->begin() + l.dataEntries[0], b->begin() + l.dataEntries[0] + 16);
         b->insert(b->end(), entry.begin(), entry.end());
         const size_t languages = Subtable(*b, l, Subtable(*b, l, l.rsrc));
         PutU32(b, languages + kFirstEntryTarget, static_cast<uint32_t>(b->size() - 16 - l.rsrc));
         const uint32_t stored =
             static_cast<uint32_t>(b->size() - U32At(*b, l.rsrcSectionHeader + kRawOffset));
         PutU32(b, l.rsrcSectionHeader + kRawSize, stored);
         PutU32(b, l.rsrcSectionHeader + kVirtualSize, stored);
       },
       ResourceStatus::kFound},
      {"section stored past the end of the file", false,
       [](Bytes* b, const PeLayout& l) { PutU32(b, l.rsrcSectionHeader + kRawOffset, 0x7FFFFFF0); },
       ResourceStatus::kCorrupt},
      {"section table past the end of the file", false,
       [](Bytes* b, const PeLayout& l) { PutU16(b, l.peHeader + kOptionalHeaderSize, 0xFFFF); },
       ResourceStatus::kCorrupt},
      {"section count 65535, the resource in the second section", false,
       [](Bytes* b, const PeLayout& l) { PutU16(b, l.peHeader + kSectionCount, 0xFFFF); },
       ResourceStatus::kFound},
      {"section count 65535, the resource in none", false,
       [](Bytes* b, const PeLayout& l) {
         PutU16(b, l.peHeader + kSectionCount, 0xFFFF);
         PutU32(b, l.resourceDataDirectory, 0x00F00000);
       },
       ResourceStatus::kCorrupt},
      {"e_lfanew pointing into the MZ header", false,
       [](Bytes* b, const PeLayout&) { PutU32(b, 0x3C, 0); }, ResourceStatus::kAbsent},
      {"e_lfanew at the top of the 32-bit range", false,
       [](Bytes* b, const PeLayout&) { PutU32(b, 0x3C, 0xFFFFFFFF); }, ResourceStatus::kAbsent},
      {"PE32+ optional header cut short", true,
       [](Bytes* b, const PeLayout& l) { PutU16(b, l.peHeader + kOptionalHeaderSize, 112); },
       ResourceStatus::kCorrupt},
  };
  const Bytes version = BuildVersionResource(Sample());
  for (const ImageCase& c : cases) {
    SCOPED_TRACE(c.name);
    PeImageSpec spec;
    spec.pe32Plus = c.pe32Plus;
    spec.resources = {{16, 1, 0x0409, version}};
    PeLayout layout;
    Bytes image = BuildPeImage(spec, &layout);
    c.damage(&image, layout);
    const CountedRead result = Read(image);
    EXPECT_EQ(result.status, c.expected);
    EXPECT_LE(result.reads, 3);
    EXPECT_EQ(result.resource, c.expected == ResourceStatus::kFound ? version : Bytes());
  }
}

TEST(PeMalformedTest, ResourceTooLargeForItsLengthsIsRefused) {
  // 10,000 records need more than the 16-bit wLength of their table can say.
  VersionInfoSpec spec;
  spec.tables = {{"040904B0", std::vector<VersionString>(10000, {u"K", u"v"})}};
  PeImageSpec image;
  image.resources = {{16, 1, 0x0409, BuildVersionResource(spec)}};
  ASSERT_GT(image.resources[0].data.size(), kMaxVersionResourceSize);
  EXPECT_EQ(Read(BuildPeImage(image)).status, ResourceStatus::kCorrupt);
}

struct Answer {
  QueryStatus status;
  std::string value;
};

Answer Query(const Bytes& block, const char* subBlock) {
  VersionValue value;
  Answer answer{FindVersionValue({block.data(), block.size()}, subBlock, &value), ""};
  if (answer.status == QueryStatus::kFound) {
    AppendUtf16InOutputCharset(value.bytes.data, value.bytes.size / 2, &answer.value);
  }
  return answer;
}

struct BlockCase {
  const char* name;
  std::function<void(VersionNode*)> damage;  // of the whole tree
  const char* subBlock;
  QueryStatus status;
  std::string value;
};

TEST(PeMalformedTest, HostileVersionTrees) {
  const char* company = "\\StringFileInfo\\040904b0\\CompanyName";
  const BlockCase cases[] = {
      {"root of length 0", [](VersionNode* t) { t->length = 0; }, "", QueryStatus::kCorrupt, ""},
      {"root shorter than its header", [](VersionNode* t) { t->length = 4; }, "",
       QueryStatus::kCorrupt, ""},
      {"a table overrunning its StringFileInfo",
       [](VersionNode* t) {
         t->children[0].length = static_cast<int32_t>(WriteVersionNode(t->children[0]).size()) - 4;
       },
       "\\StringFileInfo\\041103a4\\CompanyName", QueryStatus::kCorrupt, ""},
      {"table key of seven digits",
       [](VersionNode* t) { t->children[0].children[0].key = u"40904B0"; }, company,
       QueryStatus::kAbsent, ""},
      {"table key with a ninth character",
       [](VersionNode* t) { t->children[0].children[0].key = u"040904B0 "; }, company,
       QueryStatus::kAbsent, ""},
      {"table key not in hex", [](VersionNode* t) { t->children[0].children[0].key = u"0409O4B0"; },
       company, QueryStatus::kAbsent, ""},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    VersionNode tree = VersionTree(Sample());
    c.damage(&tree);
    const Answer answer = Query(WriteVersionNode(tree), c.subBlock);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.value, c.value);
  }
}

TEST(PeMalformedTest, RecordOfOddLengthKeepsItsValueAndItsSibling) {
  VersionNode tree = VersionTree(Sample());
  VersionNode& record = tree.children[0].children[0].children[0];
  record.length = static_cast<int32_t>(WriteVersionNode(record).size()) - 1;
  const Bytes block = WriteVersionNode(tree);
  EXPECT_EQ(Query(block, "\\StringFileInfo\\040904b0\\CompanyName").value, "Lumo Sample Works");
  EXPECT_EQ(Query(block, "\\StringFileInfo\\040904b0\\ProductName").value, "Lumo");
}

TEST(PeMalformedTest, ThousandsOfRecordsAreSearchedToTheLast) {
  VersionInfoSpec spec;
  std::vector<VersionString> strings(4000, {u"K", u""});  // 16 bytes each
  strings.push_back({u"ProductName", u"Last"});
  spec.tables = {{"040904B0", strings}};
  const Bytes block = BuildVersionResource(spec);
  ASSERT_LE(block.size(), 0xFFFFu);
  const Answer answer = Query(block, "\\StringFileInfo\\040904b0\\ProductName");
  EXPECT_EQ(answer.status, QueryStatus::kFound);
  EXPECT_EQ(answer.value, "Last");
}

}  // namespace
