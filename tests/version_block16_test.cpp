// Version blocks in the 16-bit form (ANSI keys and strings, no wType), in NE and PE images:
// queries as VerQueryValueA answers them, and strings converted from their code page.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fixtures/ne_image_writer.h"
#include "fixtures/pe_image_writer.h"
#include "image/version_resource.h"
#include "platform/posix/output_charset.h"
#include "platform/version_info.h"
#include "support/listing_entry.h"
#include "support/temp_tree.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const kProduct = "\\StringFileInfo\\040904e4\\ProductName";

VersionInfo16Spec Sample() {
  VersionInfo16Spec spec;
  spec.tables = {{"040904E4", {{"CompanyName", "Lumo Sample Works"}, {"ProductName", "Lumo"}}},
                 {"041103A4", {{"CompanyName", "\x83\x8B\x83\x82"}}}};
  spec.translation = {0x0409, 1252, 0x0411, 932};
  return spec;
}

struct Answer {
  QueryStatus status;
  std::string value;  // the bytes as found
  bool ansi = false;
  uint16_t codePage = 0;
};

Answer Query(const Bytes& block, const char* subBlock) {
  VersionValue value;
  Answer answer{FindVersionValue({block.data(), block.size()}, subBlock, &value), ""};
  if (answer.status != QueryStatus::kFound) return answer;
  answer.value.assign(value.bytes.data, value.bytes.data + value.bytes.size);
  answer.ansi = value.ansi;
  answer.codePage = value.codePage;
  return answer;
}

TEST(VersionBlock16Test, AnswersPathsAsForTheOtherForm) {
  const Bytes block = BuildVersionResource16(Sample());
  const std::string translations("\x09\x04\xE4\x04\x11\x04\xA4\x03", 8);
  const struct {
    const char* path;
    QueryStatus status;
    std::string value;
    uint16_t codePage;
  } cases[] = {
      {"\\\\stringfileinfo\\040904E4\\\\COMPANYNAME\\", QueryStatus::kFound, "Lumo Sample Works",
       1252},
      {"\\StringFileInfo\\041103a4\\CompanyName", QueryStatus::kFound, "\x83\x8B\x83\x82", 932},
      {"\\StringFileInfo\\040904e4\\Company", QueryStatus::kAbsent, "", 0},
      {"\\VarFileInfo\\Translation", QueryStatus::kFound, translations, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Answer answer = Query(block, c.path);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.value, c.value);
    EXPECT_EQ(answer.ansi, c.status == QueryStatus::kFound && c.codePage != 0);
    EXPECT_EQ(answer.codePage, c.codePage);
  }
  const Answer root = Query(block, "\\");
  ASSERT_EQ(root.value.size(), 52u);
  EXPECT_EQ(root.value.substr(0, 4), "\xBD\x04\xEF\xFE");
}

// Damages the first string table of Sample() and asks for its ProductName.
struct DamageCase {
  const char* name;
  std::function<void(VersionNode16* table)> damage;
  QueryStatus status;
  std::string value;
};

TEST(VersionBlock16Test, StringsEndAtTheirNulOrRecordAndDamageStopsTheSearch) {
  const DamageCase cases[] = {
      {"wValueLength 0: the string up to its NUL, as Windows hands it out",
       [](VersionNode16* t) { t->children[1].valueLength = 0; }, QueryStatus::kFound, "Lumo"},
      {"a string without NUL stops at its record's end",
       [](VersionNode16* t) {
         t->children[1].value = {'L', 'u', 'm', 'o'};
         t->children.push_back({"Z", {'!', 0, 0, 0}});
       },
       QueryStatus::kFound, "Lumo"},
      {"a child shorter than its header", [](VersionNode16* t) { t->children[0].length = 3; },
       QueryStatus::kCorrupt, ""},
      {"a key without its NUL", [](VersionNode16* t) { t->children[0].length = 4 + 5; },
       QueryStatus::kCorrupt, ""},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    VersionNode16 tree = VersionTree16(Sample());
    c.damage(&tree.children[0].children[0]);
    const Answer answer = Query(WriteVersionNode16(tree), kProduct);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.value, c.value);
  }
}

TEST(VersionBlock16Test, FormIsToldByTheByteAfterTheTwoLengths) {
  VersionInfoSpec spec;
  spec.tables = {{"040904E4", {{u"ProductName", u"Lumo"}}}};
  // The 32-bit form's wType there: 0 and 1 are below ' ', and so are 0x80 and above.
  for (uint16_t type : {0, 1, 0x80, 0xFF}) {
    SCOPED_TRACE(type);
    VersionNode tree = VersionTree(spec);
    tree.type = type;
    EXPECT_EQ(Query(WriteVersionNode(tree), kProduct).status, QueryStatus::kFound);
  }
  // A printable byte there makes it the 16-bit form: the 32-bit nodes then do not parse.
  VersionNode tree = VersionTree(spec);
  tree.type = 'V';
  EXPECT_NE(Query(WriteVersionNode(tree), kProduct).status, QueryStatus::kFound);
}

Bytes NeWith(const std::string& key, const std::string& product) {
  VersionInfo16Spec spec;
  spec.tables = {{key, {{"ProductName", product}}}};
  return NeImageWithVersion(BuildVersionResource16(spec));
}

TEST(VersionBlock16Test, StringsAreConvertedFromTheirCodePage) {
  SelectOutputCharset("UTF-8");
  const struct {
    const char* name;
    Bytes image;
    const char* path;
    std::string value;
  } cases[] = {
      {"1252", NeWith("040904E4", "\xA9 Lumo caf\xE9"), kProduct, "© Lumo café"},
      {"932", NeWith("041103A4", "\x83\x8B\x83\x82 \xB1"),
       "\\StringFileInfo\\041103a4\\ProductName", "ルモ ｱ"},
      {"65001", NeWith("0409FDE9", "\xE2\x82\xAC"), "\\StringFileInfo\\0409fde9\\ProductName", "€"},
      {"code page 0 is taken as 1252", NeWith("04090000", "\xA9"),
       "\\StringFileInfo\\04090000\\ProductName", "©"},
      {"a code page iconv lacks is taken as 1252", NeWith("0409FFFE", "\xA9"),
       "\\StringFileInfo\\0409fffe\\ProductName", "©"},
      {"bytes the code page does not define", NeWith("040904E4", "a\x81z\x90"), kProduct, "a?z?"},
      {"a Shift_JIS lead byte at the end", NeWith("041103A4", "a\x83"),
       "\\StringFileInfo\\041103a4\\ProductName", "a?"},
      {"in a PE image",
       [] {
         PeImageSpec pe;
         VersionInfo16Spec spec;
         spec.tables = {{"040904E4", {{"ProductName", "Lumo \xAE"}}}};
         pe.resources = {{16, 1, 0x0409, BuildVersionResource16(spec)}};
         return BuildPeImage(pe);
       }(),
       kProduct, "Lumo ®"},
      {"an NE image without a version resource", BuildNeImage({}), kProduct, "<none>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LoadedVersionValue(c.image, c.path), c.value);
  }
}

TEST(VersionBlock16Test, CharactersTheOutputCharsetLacksBecomeQuestionMarks) {
  SelectOutputCharset("SHIFT_JIS");
  EXPECT_EQ(LoadedVersionValue(NeWith("040904E4", "caf\xE9!"), kProduct), "caf?!");
  EXPECT_EQ(LoadedVersionValue(NeWith("041103A4", "\x83\x8B\x83\x82"),
                               "\\StringFileInfo\\041103a4\\ProductName"),
            "\x83\x8B\x83\x82");
  SelectOutputCharset("UTF-8");
}

}  // namespace
