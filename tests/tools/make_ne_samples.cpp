// make_ne_samples DIR: (re)creates DIR holding 16-bit NE images, and a PE image with a version
// block in the 16-bit form, for comparing what the two builds show of them. Their strings are
// ASCII or code page 932, which the Win32 build under a Japanese locale shows as stored.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "fixtures/ne_image_writer.h"
#include "fixtures/pe_image_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<AnsiString> AllEight(const char* description) {
  return {{"CompanyName", "Lumo Sample Works"},
          {"FileDescription", description},
          {"FileVersion", "3.10.0.1"},
          {"InternalName", "SAMPLE"},
          {"LegalCopyright", "Copyright (C) 1992 Lumo Sample Works"},
          {"OriginalFilename", "SAMPLE.EXE"},
          {"ProductName", "Lumo Samples"},
          {"ProductVersion", "3.10"}};
}

Bytes Block16(const char* description, const std::string& key = "040904E4") {
  VersionInfo16Spec spec;
  spec.tables = {{key, AllEight(description)}};
  spec.translation = {0x0409, static_cast<uint16_t>(std::stoul(key.substr(4), nullptr, 16))};
  return BuildVersionResource16(spec);
}

struct Sample {
  const char* name;
  Bytes contents;
};

std::vector<Sample> Samples() {
  VersionInfo16Spec japanese;
  japanese.translation = {0x0411, 932};
  japanese.tables = {{"041103A4",
                      {{"CompanyName", "\x83\x8B\x83\x82\x8C\xA9\x96\x7B\x8D\x48\x96\x5B"},
                       {"FileDescription", "\x83\x54\x83\x93\x83\x76\x83\x8B \xB1\xB2\xB3"},
                       {"ProductName", "\x83\x8B\x83\x82"}}}};
  VersionNode16 zeroLengths = VersionTree16(
      VersionInfo16Spec{.tables = {{"040904E4", AllEight("Strings whose wValueLength is 0")}}});
  for (VersionNode16& string : zeroLengths.children[0].children[0].children) {
    string.valueLength = 0;
  }
  VersionInfo16Spec untranslated;
  untranslated.tables = {{"040904E4", AllEight("No translation")}};
  untranslated.varFileInfo = false;
  VersionInfoSpec wide;
  wide.tables = {{"040904B0",
                  {{u"CompanyName", u"Lumo Sample Works"},
                   {u"FileDescription", u"A 32-bit block in an NE image"},
                   {u"ProductName", u"ルモ"}}}};

  const NeResource icon{0x8003, 0x8001, Bytes(296, 0x11)};
  NeImageSpec picked;
  picked.alignmentShift = 9;
  picked.resources = {icon,
                      {0x8006, 0x8001, Bytes(40, 0x22)},
                      {0x8010, 0x8002, Block16("Version resource 2")},
                      {0x8010, 0x8001, Block16("Version resource 1, after 2")}};
  NeImageSpec unpadded;
  unpadded.alignmentShift = 9;
  unpadded.padded = false;
  unpadded.resources = {{0x8010, 0x8001, Block16("The file ends inside the last unit")}};
  NeImageSpec iconOnly;
  iconOnly.resources = {icon};
  NeImageSpec named;
  named.resources = {{0x8010, 0x0001, Block16("A named version resource")}};
  NeImageSpec tiny;
  tiny.alignmentShift = 2;
  tiny.resources = {{0x8010, 0x8001, Block16("Cut to 52 bytes")}};
  tiny.resources[0].data.resize(52);
  // Cut short in the version resource: in its string table, and inside the translation's value.
  NeImageSpec cut;
  cut.resources = {{0x8010, 0x8001, Block16("The file ends in the string table")}};
  cut.cutInLast = static_cast<int32_t>(cut.resources[0].data.size() / 2);
  NeImageSpec cutTranslation = cut;
  cutTranslation.cutInLast = static_cast<int32_t>(cut.resources[0].data.size() - 2);
  PeImageSpec pe;
  pe.resources = {{16, 1, 0x0409, Block16("A 16-bit block in a PE image")}};

  return {
      {"english.exe", NeImageWithVersion(Block16("Windows 3.1 program"))},
      {"japanese.dll", NeImageWithVersion(BuildVersionResource16(japanese))},
      {"nocodepage.dll", NeImageWithVersion(Block16("Code page 0", "04090000"))},
      {"shift0.drv", NeImageWithVersion(Block16("Alignment shift 0"), 0)},
      {"picked.drv", BuildNeImage(picked)},
      {"unpadded.dll", BuildNeImage(unpadded)},
      {"zerolength.exe", NeImageWithVersion(WriteVersionNode16(zeroLengths))},
      {"untranslated.dll", NeImageWithVersion(BuildVersionResource16(untranslated))},
      {"wide.dll", NeImageWithVersion(BuildVersionResource(wide))},
      {"icononly.exe", BuildNeImage(iconOnly)},
      {"noresources.dll", BuildNeImage({})},
      {"named.dll", BuildNeImage(named)},
      {"tiny.dll", BuildNeImage(tiny)},
      {"cut.dll", BuildNeImage(cut)},
      {"cuttranslation.dll", BuildNeImage(cutTranslation)},
      {"block16.exe", BuildPeImage(pe)},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_ne_samples DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  std::error_code error;
  std::filesystem::remove_all(root, error);
  std::filesystem::create_directories(root, error);
  for (const Sample& sample : Samples()) {
    const std::string path = root + "/" + sample.name;
    FILE* file = std::fopen(path.c_str(), "wb");
    const bool written =
        file != nullptr && std::fwrite(sample.contents.data(), 1, sample.contents.size(), file) ==
                               sample.contents.size();
    if (file == nullptr || std::fclose(file) != 0 || !written) {
      std::perror(path.c_str());
      return 1;
    }
  }
  return 0;
}
