// End-to-end tests of the version strings: labels, languages, and the files that have none.
#include <gtest/gtest.h>

#include <string>

#include "fixtures/ne_image_writer.h"
#include "fixtures/pe_image_writer.h"
#include "support/lumo_run.h"
#include "support/report_lines.h"
#include "support/target.h"
#include "support/temp_tree.h"

namespace {

const std::vector<VersionString> kAllEight = {
    {u"CompanyName", u"Example Co."},
    {u"FileDescription", u"Tool"},
    {u"FileVersion", u"1.2.3.4"},
    {u"InternalName", u"tool"},
    {u"LegalCopyright", u"(C) Example Co."},
    {u"OriginalFilename", u"tool.exe"},
    {u"ProductName", u"Example"},
    {u"ProductVersion", u"1.2"},
};

TEST(VersionStrings, AreLabelledInTheChosenLanguage) {
  TempTree tree;
  const std::string image = AsString(SimpleVersionedImage(kAllEight));
  tree.File("tool.exe", image, kTime);
  const std::string head = Head(tree.Path("tool.exe"), image.size());
  const struct {
    const char* option;
    std::string body;
  } cases[] = {
      {"-0",
       "CompanyName: Example Co.\nFileDescription: Tool\nFileVersion: 1.2.3.4\n"
       "InternalName: tool\nLegalCopyright: (C) Example Co.\nOriginalFilename: tool.exe\n"
       "ProductName: Example\nProductVersion: 1.2\n"},
      {"-1",
       "\xe4\xbc\x9a\xe7\xa4\xbe\xe5\x90\x8d: Example Co.\n"
       "\xe8\xaa\xac\xe6\x98\x8e: Tool\n"
       "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x83\x90\xe3\x83\xbc\xe3\x82\xb8\xe3"
       "\x83\xa7\xe3\x83\xb3: 1.2.3.4\n"
       "\xe5\x86\x85\xe9\x83\xa8\xe5\x90\x8d: tool\n"
       "\xe8\x91\x97\xe4\xbd\x9c\xe6\xa8\xa9: (C) Example Co.\n"
       "\xe6\xad\xa3\xe5\xbc\x8f\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe5\x90\x8d: "
       "tool.exe\n"
       "\xe8\xa3\xbd\xe5\x93\x81\xe5\x90\x8d: Example\n"
       "\xe8\xa3\xbd\xe5\x93\x81\xe3\x83\x90\xe3\x83\xbc\xe3\x82\xb8\xe3\x83\xa7\xe3\x83\xb3: "
       "1.2\n"},
      {"-2", "Example Co.\nTool\n1.2.3.4\ntool\n(C) Example Co.\ntool.exe\nExample\n1.2\n"},
      {"-20",
       "CompanyName: Example Co.\nFileDescription: Tool\nFileVersion: 1.2.3.4\n"
       "InternalName: tool\nLegalCopyright: (C) Example Co.\nOriginalFilename: tool.exe\n"
       "ProductName: Example\nProductVersion: 1.2\n"},
  };
  for (const auto& c : cases) {
    const LumoResult result = RunLumo({c.option, TargetPath(tree.root()), "*.EXE"});
    EXPECT_EQ(result.out, head + c.body + "\n") << c.option;
    EXPECT_EQ(result.status, 0);
  }
}

TEST(VersionStrings, MissingKeysAndEmptyValuesAreShownAsTheFileHasThem) {
  TempTree tree;
  const std::string image = AsString(SimpleVersionedImage({
      {u"ProductName", u"Late"},
      {u"CompanyName", u""},
      {u"Comments", u"not one of the eight"},
      {u"FileVersion", u"2.0", ValueLength::kBytes},
      {u"InternalName", u"", ValueLength::kZero},
  }));
  tree.File("a.dll", image, kTime);
  const std::string head = Head(tree.Path("a.dll"), image.size());
  // Table order, not the file's; an empty value keeps its line.
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "a.dll"}).out,
            head + "CompanyName: \nFileVersion: 2.0\nInternalName: \nProductName: Late\n\n");
  EXPECT_EQ(RunLumo({"-2", TargetPath(tree.root()), "a.dll"}).out, head + "\n2.0\n\nLate\n\n");
}

TEST(VersionStrings, ComeFromTheFirstTranslationOnly) {
  TempTree tree;
  VersionInfoSpec info;
  info.translation = {0x0411, 0x03A4, 0x0409, 0x04B0};
  info.tables = {{"040904b0", {{u"CompanyName", u"English"}}},
                 {"041103A4", {{u"CompanyName", u"\u65e5\u672c"}, {u"ProductName", u"P"}}}};
  PeImageSpec spec;
  spec.resources = {{16, 1, 0x0411, BuildVersionResource(info)}};
  const std::string image = AsString(BuildPeImage(spec));
  tree.File("j.exe", image, kTime);
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "*"}).out,
            Head(tree.Path("j.exe"), image.size()) +
                "CompanyName: \xe6\x97\xa5\xe6\x9c\xac\nProductName: P\n\n");

  // A first translation without a string table: the block, with no strings in it.
  info.translation = {0x0407, 0x04E4, 0x0409, 0x04B0};
  spec.resources = {{16, 1, 0x0409, BuildVersionResource(info)}};
  const std::string other = AsString(BuildPeImage(spec));
  tree.File("j.exe", other, kTime);
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "*"}).out,
            Head(tree.Path("j.exe"), other.size()) + "\n");
}

TEST(VersionStrings, FilesWithoutThemGetTheirFirstLineOrNothing) {
  TempTree tree;
  VersionInfoSpec noVar;
  noVar.tables = {{"040904B0", {{u"CompanyName", u"Hidden"}}}};
  noVar.varFileInfo = false;
  VersionInfoSpec shortTranslation = noVar;
  shortTranslation.varFileInfo = true;
  shortTranslation.translation = {0x0409};
  PeImageSpec spec;
  spec.resources = {{16, 1, 0x0409, BuildVersionResource(noVar)}};
  const std::string noTranslation = AsString(BuildPeImage(spec));
  tree.File("a-notranslation.dll", noTranslation, kTime);
  spec.resources = {{16, 1, 0x0409, BuildVersionResource(shortTranslation)}};
  const std::string shortOne = AsString(BuildPeImage(spec));
  tree.File("b-shorttranslation.dll", shortOne, kTime);
  spec.resources = {{3, 1, 0x0409, {1, 2, 3, 4}}};
  const std::string iconOnly = AsString(BuildPeImage(spec));
  tree.File("c-iconsonly.dll", iconOnly, kTime);
  const std::string dos = AsString(DosProgram());
  tree.File("d-dos.exe", dos, kTime);
  tree.File("e-mz.dll", "MZ", kTime);
  const std::string versioned = AsString(SimpleVersionedImage({{u"FileVersion", u"9"}}));
  tree.File("f-ok.dll", versioned, kTime);

  // Without a translation value nothing at all is written, whatever the flags. Every matching
  // entry counts in the totals.
  const std::string ok = Head(tree.Path("f-ok.dll"), versioned.size()) + "FileVersion: 9\n\n";
  const size_t total =
      noTranslation.size() + shortOne.size() + iconOnly.size() + dos.size() + 2 + versioned.size();
  EXPECT_EQ(RunLumo({"-V", TargetPath(tree.root()), "*"}).out,
            Head(tree.Path("c-iconsonly.dll"), iconOnly.size()) +
                Head(tree.Path("d-dos.exe"), dos.size()) + Head(tree.Path("e-mz.dll"), 2) + ok +
                "Total   6 file(s) " + std::to_string(total) + " bytes (" +
                std::to_string(total / 1024) + "K bytes).\n");
  EXPECT_EQ(RunLumo({"-N", TargetPath(tree.root()), "*"}).out, ok);
}

TEST(VersionStrings, AFileCutShortInItsVersionResourceHasNone) {
  if (TargetIsWin32()) {
    GTEST_SKIP() << "Wine's version.dll reads this file's missing tail as zeros";
  }
  TempTree tree;
  VersionInfoSpec nine;
  nine.tables = {{"040904B0", {{u"FileVersion", u"9"}}}};
  PeImageSpec pe;
  pe.resources = {{16, 1, 0x0409, BuildVersionResource(nine)}};
  PeLayout layout;
  const std::string whole = AsString(BuildPeImage(pe, &layout));
  const std::string cut = whole.substr(0, layout.data[0] + 40);  // in the version resource
  tree.File("g-cut.dll", cut, kTime);
  EXPECT_EQ(RunLumo({TargetPath(tree.root()), "*"}).out, Head(tree.Path("g-cut.dll"), cut.size()));
}

TEST(VersionStrings, A16BitFileCutShortInItsVersionResourceIsReadAsFarAsItGoes) {
  TempTree tree;
  VersionInfo16Spec info;
  info.tables = {{"040904E4", {{"CompanyName", "Cut"}}}};
  const VersionNode16 root = VersionTree16(info);
  const size_t block = WriteVersionNode16(root).size();
  const size_t varFileInfo = block - WriteVersionNode16(root.children[1]).size();
  // The rest of the resource reads as zeros: cut before its translation, the file shows
  // nothing; cut inside it, the translation is 0409 0000, which names no string table.
  const struct {
    const char* name;
    size_t there;
    bool listed;
  } cases[] = {
      {"a-strings.exe", varFileInfo - 8, false},
      {"b-translation.exe", block - 2, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NeImageSpec spec;
    spec.resources = {{0x8010, 0x8001, WriteVersionNode16(root)}};
    spec.cutInLast = static_cast<int32_t>(c.there);
    const std::string image = AsString(BuildNeImage(spec));
    tree.File(c.name, image, kTime);
    EXPECT_EQ(RunLumo({TargetPath(tree.root()), c.name}).out,
              c.listed ? Head(tree.Path(c.name), image.size()) + "\n" : "");
  }
}

TEST(VersionStrings, AreReadWhereTheirSectionStoresThemPastItsVirtualSize) {
  TempTree tree;
  PeImageSpec spec;
  spec.resources = {
      {16, 1, 0x0409,
       BuildVersionResource({.tables = {{"040904B0", {{u"ProductVersion", u"3"}}}}})}};
  PeLayout layout;
  const std::vector<uint8_t> image = BuildPeImage(spec, &layout);
  const size_t end = layout.data[0] + spec.resources[0].data.size() - layout.rsrc;
  // The virtual size of .rsrc at the end of the resource, and 4 bytes into it; the raw size
  // covers it in both.
  for (const size_t virtualSize : {end, layout.data[0] - layout.rsrc + 4}) {
    std::vector<uint8_t> cut = image;
    PutU32(&cut, layout.rsrcSectionHeader + 8, static_cast<uint32_t>(virtualSize));
    tree.File("v.dll", AsString(cut), kTime);
    EXPECT_EQ(RunLumo({"-2", TargetPath(tree.root()), "*"}).out,
              Head(tree.Path("v.dll"), cut.size()) + "3\n\n")
        << virtualSize;
  }
}

TEST(VersionStrings, AreReadThroughLinksToFiles) {
  if (TargetIsWin32()) GTEST_SKIP() << "links are the POSIX build's";
  TempTree tree;
  const std::string image = AsString(SimpleVersionedImage({{u"ProductVersion", u"7"}}, true));
  tree.File("real64.dll", image, kTime);
  tree.Symlink("alias.dll", "real64.dll");
  EXPECT_EQ(RunLumo({"-2", TargetPath(tree.root()), "alias.dll"}).out,
            Head(tree.Path("alias.dll"), image.size()) + "7\n\n");
}

}  // namespace
