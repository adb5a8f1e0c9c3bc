// Queries over version resources, as VerQueryValueA answers them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/pe_image_writer.h"
#include "image/version_resource.h"
#include "platform/posix/output_charset.h"
#include "platform/version_info.h"
#include "support/listing_entry.h"
#include "support/temp_tree.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Answer {
  QueryStatus status;
  std::string value;  // text in UTF-8; binary as raw bytes
};

Answer Query(const Bytes& block, const char* subBlock) {
  VersionValue value;
  Answer answer{FindVersionValue({block.data(), block.size()}, subBlock, &value), ""};
  if (answer.status != QueryStatus::kFound) return answer;
  if (value.text) {
    AppendUtf16InOutputCharset(value.bytes.data, value.bytes.size / 2, &answer.value);
  } else {
    answer.value.assign(value.bytes.data, value.bytes.data + value.bytes.size);
  }
  return answer;
}

VersionInfoSpec Sample() {
  VersionInfoSpec spec;
  spec.tables = {{"040904B0",
                  {{u"CompanyName", u"Lumo Sample Works"},
                   {u"FileDescription", u""},
                   {u"FileVersion", u"1.2.3.4", ValueLength::kBytes},
                   {u"InternalName", u"viewer", ValueLength::kZero},
                   {u"ProductName", u"Lumo"}}},
                 {"041103a4", {{u"CompanyName", u"ルモ見本工房"}}}};
  spec.translation = {0x0409, 0x04B0, 0x0411, 0x03A4};
  return spec;
}

TEST(VersionQueryTest, AnswersPathsAsVerQueryValueDoes) {
  InitOutputCharset();
  const Bytes block = BuildVersionResource(Sample());
  const std::string translations("\x09\x04\xB0\x04\x11\x04\xA4\x03", 8);
  const struct {
    const char* path;
    QueryStatus status;
    std::string value;
  } cases[] = {
      {"\\StringFileInfo\\040904B0\\CompanyName", QueryStatus::kFound, "Lumo Sample Works"},
      {"\\StringFileInfo\\040904b0\\CompanyName", QueryStatus::kFound, "Lumo Sample Works"},
      {"\\stringfileinfo\\040904B0\\COMPANYNAME", QueryStatus::kFound, "Lumo Sample Works"},
      {"\\\\StringFileInfo\\\\040904b0\\CompanyName\\", QueryStatus::kFound, "Lumo Sample Works"},
      {"StringFileInfo\\040904b0\\CompanyName", QueryStatus::kFound, "Lumo Sample Works"},
      {"\\StringFileInfo\\041103A4\\CompanyName", QueryStatus::kFound, "ルモ見本工房"},
      {"\\StringFileInfo\\040904b0\\FileDescription", QueryStatus::kFound, ""},
      {"\\StringFileInfo\\040904b0\\FileVersion", QueryStatus::kFound, "1.2.3.4"},
      {"\\StringFileInfo\\040904b0\\InternalName", QueryStatus::kFound, ""},
      {"\\StringFileInfo\\040904b0\\ProductName", QueryStatus::kFound, "Lumo"},
      {"\\StringFileInfo\\040904b0\\Company", QueryStatus::kAbsent, ""},
      {"\\StringFileInfo\\040904b0\\CompanyNameX", QueryStatus::kAbsent, ""},
      {"\\StringFileInfo\\041104b0\\CompanyName", QueryStatus::kAbsent, ""},
      {"\\StringFileInfo\\040904b0\\ProductName\\More", QueryStatus::kAbsent, ""},
      {"\\VarFileInfo\\Translation", QueryStatus::kFound, translations},
      {"\\varfileinfo\\translation", QueryStatus::kFound, translations},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Answer answer = Query(block, c.path);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.value, c.value);
  }
}

TEST(VersionQueryTest, RootGivesTheFixedFileInfo) {
  VersionInfoSpec spec = Sample();
  spec.fileVersion = 0x0001000200030004;
  const Answer answer = Query(BuildVersionResource(spec), "\\");
  ASSERT_EQ(answer.status, QueryStatus::kFound);
  ASSERT_EQ(answer.value.size(), 52u);
  EXPECT_EQ(answer.value.substr(0, 4), "\xBD\x04\xEF\xFE");
  EXPECT_EQ(answer.value.substr(8, 8), std::string("\x02\x00\x01\x00\x04\x00\x03\x00", 8));
}

TEST(VersionQueryTest, TranslationValueIsGivenAsStored) {
  VersionInfoSpec shortValue = Sample();
  shortValue.translation = {0x0409};
  VersionInfoSpec none = Sample();
  none.varFileInfo = false;
  EXPECT_EQ(Query(BuildVersionResource(shortValue), "\\VarFileInfo\\Translation").value,
            std::string("\x09\x04", 2));
  EXPECT_EQ(Query(BuildVersionResource(none), "\\VarFileInfo\\Translation").status,
            QueryStatus::kAbsent);
  EXPECT_EQ(Query(BuildVersionResource(none), "\\StringFileInfo\\040904b0\\ProductName").value,
            "Lumo");
}

// Damages the string table of Sample() and asks for the ProductName that follows the damage.
struct DamageCase {
  const char* name;
  void (*damage)(VersionNode* table);
  QueryStatus status;
  std::string value;
};

TEST(VersionQueryTest, DamagedNodesStopTheSearch) {
  const DamageCase cases[] = {
      {"a child of length 0 ends its siblings", [](VersionNode* t) { t->children[0].length = 0; },
       QueryStatus::kAbsent, ""},
      {"a child shorter than its header", [](VersionNode* t) { t->children[0].length = 4; },
       QueryStatus::kCorrupt, ""},
      {"a key without its NUL", [](VersionNode* t) { t->children[0].length = 8 + 6; },
       QueryStatus::kCorrupt, ""},
      {"a child longer than its parent", [](VersionNode* t) { t->children[0].length = 0x7000; },
       QueryStatus::kCorrupt, ""},
      {"a string without NUL stops at its record's end",
       [](VersionNode* t) {
         VersionNode& product = t->children[4];
         product.value.resize(8);  // "Lumo", no NUL
         product.valueLength = 200;
         t->children.push_back({u"Z", 1, {'!', 0, 0, 0}});
       },
       QueryStatus::kFound, "Lumo"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    VersionNode tree = VersionTree(Sample());
    c.damage(&tree.children[0].children[0]);
    const Answer answer = Query(WriteVersionNode(tree), "\\StringFileInfo\\040904b0\\ProductName");
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.value, c.value);
  }
}

TEST(VersionQueryTest, BinaryValueIsCutAtItsRecord) {
  VersionNode tree = VersionTree(Sample());
  tree.children[1].children[0].valueLength = 1000;
  const Answer answer = Query(WriteVersionNode(tree), "\\VarFileInfo\\Translation");
  EXPECT_EQ(answer.status, QueryStatus::kFound);
  EXPECT_EQ(answer.value.size(), 8u);
}

TEST(VersionQueryTest, RootMustBeWhole) {
  const Bytes block = BuildVersionResource(Sample());
  for (size_t size : {size_t{0}, size_t{5}, size_t{30}, block.size() - 1}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(Query(Truncated(block, size), "\\VarFileInfo\\Translation").status,
              QueryStatus::kCorrupt);
  }
}

// An image whose version resource is `tree`, changed by `change`.
Bytes ImageOf(VersionNode tree, void (*change)(VersionNode* tree)) {
  change(&tree);
  PeImageSpec spec;
  spec.resources = {{16, 1, 0x0409, WriteVersionNode(tree)}};
  return BuildPeImage(spec);
}

// A root without the fixed file information: wValueLength 0 and no value.
void NoFixedInfo(VersionNode* tree) {
  tree->value.clear();
}

// The last record of the block an empty string whose value bytes are absent: the block ends
// with its key.
template <int kValueLength>
void EmptyLastString(VersionNode* tree) {
  tree->children.pop_back();  // VarFileInfo
  VersionNode& last = tree->children[0].children[0].children.back();
  last.value.clear();
  last.valueLength = kValueLength;
}

TEST(VersionQueryTest, LoadsFromAFileAndConvertsStrings) {
  InitOutputCharset();
  const char* company = "\\StringFileInfo\\040904b0\\CompanyName";
  const char* product = "\\StringFileInfo\\040904b0\\ProductName";
  const struct {
    const char* name;
    Bytes image;
    const char* path;
    std::string value;
  } cases[] = {
      {"ASCII", SimpleVersionedImage({{u"CompanyName", u"Lumo Sample Works"}}), company,
       "Lumo Sample Works"},
      {"PE32+", SimpleVersionedImage({{u"CompanyName", u"Lumo"}}, true), company, "Lumo"},
      {"Japanese", SimpleVersionedImage({{u"CompanyName", u"ルモ見本工房"}}), company,
       "ルモ見本工房"},
      {"outside the BMP", SimpleVersionedImage({{u"CompanyName", u"\U0001F600"}}), company,
       "\xF0\x9F\x98\x80"},
      {"unpaired surrogates",
       SimpleVersionedImage({{u"CompanyName",
                              u"a\xD800"
                              u"b\xDC00"}}),
       company, "a?b?"},
      {"missing string", SimpleVersionedImage({{u"CompanyName", u"Lumo"}}),
       "\\StringFileInfo\\040904b0\\ProductName", "<absent>"},
      {"translation", SimpleVersionedImage({}), "\\VarFileInfo\\Translation",
       std::string("\x09\x04\xB0\x04", 4)},
      {"no fixed information", ImageOf(VersionTree(Sample()), NoFixedInfo), product, "Lumo"},
      {"no fixed information, translation", ImageOf(VersionTree(Sample()), NoFixedInfo),
       "\\VarFileInfo\\Translation", std::string("\x09\x04\xB0\x04\x11\x04\xA4\x03", 8)},
      {"empty last string of length 0", ImageOf(VersionTree(Sample()), EmptyLastString<0>), product,
       ""},
      {"empty last string of length 1", ImageOf(VersionTree(Sample()), EmptyLastString<1>), product,
       ""},
      {"not an image", Bytes(100, 'x'), company, "<none>"},
      {"DOS program", DosProgram(), company, "<none>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LoadedVersionValue(c.image, c.path), c.value);
  }
}

TEST(VersionQueryTest, ResourceWithoutAReadableRootIsNoVersionInformation) {
  PeImageSpec spec;
  spec.resources = {{16, 1, 0x0409, Bytes(64, 0xFF)}};
  EXPECT_EQ(LoadedVersionValue(BuildPeImage(spec), "\\VarFileInfo\\Translation"), "<none>");
}

}  // namespace
