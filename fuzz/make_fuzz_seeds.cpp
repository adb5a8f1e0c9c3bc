// make_fuzz_seeds DIR: writes a seed corpus for each fuzz target into DIR/<target>/: every kind
// of image the fixture writer makes, and the texts the tests use.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/ne_image_writer.h"
#include "fixtures/pe_image_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Write(const std::string& path, const Bytes& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

Bytes FromText(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

const std::vector<VersionString> kAllEight = {
    {u"CompanyName", u"Lumo Sample Works"},
    {u"FileDescription", u"Viewer"},
    {u"FileVersion", u"1.2.3.4"},
    {u"InternalName", u"viewer"},
    {u"LegalCopyright", u"(C) 2024"},
    {u"OriginalFilename", u"viewer.exe"},
    {u"ProductName", u"Lumo"},
    {u"ProductVersion", u"1.2"},
};

Bytes Image(const VersionInfoSpec& version, bool pe32Plus = false, bool dll = false) {
  PeImageSpec spec;
  spec.pe32Plus = pe32Plus;
  spec.dll = dll;
  spec.resources = {{16, 1, 0x0409, BuildVersionResource(version)}};
  return BuildPeImage(spec);
}

// NE images, and version blocks in the 16-bit form in NE and PE images.
std::vector<Bytes> NeSeeds() {
  VersionInfo16Spec eight;
  eight.tables = {{"040904E4",
                   {{"CompanyName", "Lumo Sample Works"},
                    {"FileDescription", "Viewer"},
                    {"FileVersion", "1.2.3.4"},
                    {"InternalName", "viewer"},
                    {"LegalCopyright", "\xA9 2024"},
                    {"OriginalFilename", "viewer.exe"},
                    {"ProductName", "Lumo"},
                    {"ProductVersion", "1.2"}}}};
  VersionInfo16Spec japanese;
  japanese.translation = {0x0411, 932};
  japanese.tables = {{"041103A4", {{"CompanyName", "\x83\x8B\x83\x82 \xB1"}}}};
  VersionInfo16Spec noCodePage = eight;
  noCodePage.translation = {0x0409, 0};
  noCodePage.tables[0].key = "04090000";
  VersionNode16 zeroLengths = VersionTree16(eight);
  for (VersionNode16& string : zeroLengths.children[0].children[0].children) {
    string.valueLength = 0;
  }
  const Bytes block = BuildVersionResource16(eight);

  VersionInfoSpec wide;
  wide.tables = {{"040904B0", kAllEight}};
  const NeResource icon{0x8003, 0x8001, Bytes(40, 0x11)};
  NeImageSpec others;
  others.resources = {
      icon, {0x8006, 0x8007, Bytes(20, 2)}, {0x8010, 0x8002, block}, {0x8010, 0x8001, block}};
  others.alignmentShift = 9;
  NeImageSpec unpadded;
  unpadded.resources = {{0x8010, 0x8001, block}};
  unpadded.padded = false;
  NeImageSpec iconOnly;
  iconOnly.resources = {icon};
  PeImageSpec pe;
  pe.resources = {{16, 1, 0x0409, block}};

  const Bytes simple = NeImageWithVersion(block);
  std::vector<Bytes> seeds = {
      simple,
      NeImageWithVersion(block, 0),
      NeImageWithVersion(BuildVersionResource16(japanese)),
      NeImageWithVersion(BuildVersionResource16(noCodePage)),
      NeImageWithVersion(WriteVersionNode16(zeroLengths)),
      NeImageWithVersion(BuildVersionResource(wide)),
      BuildNeImage(others),
      BuildNeImage(unpadded),
      BuildNeImage(iconOnly),
      BuildNeImage({}),
      BuildPeImage(pe),
  };
  for (size_t size : {size_t{0x90}, size_t{0xC8}, simple.size() - 40}) {
    seeds.push_back(Truncated(simple, size));
  }
  return seeds;
}

std::vector<Bytes> VersionReaderSeeds() {
  VersionInfoSpec eight;
  eight.tables = {{"040904B0", kAllEight}};
  VersionInfoSpec japanese;
  japanese.translation = {0x0411, 0x03A4};
  japanese.tables = {{"041103a4", {{u"CompanyName", u"ルモ見本工房"}, {u"ProductName", u"ルモ"}}}};
  VersionInfoSpec two = eight;
  two.tables.push_back(japanese.tables[0]);
  two.translation = {0x0409, 0x04B0, 0x0411, 0x03A4};
  VersionInfoSpec lengths;
  lengths.tables = {{"040904B0",
                     {{u"CompanyName", u"bytes", ValueLength::kBytes},
                      {u"ProductName", u"zero", ValueLength::kZero},
                      {u"FileVersion", u"\U0001F600 a\xD800"}}}};
  VersionInfoSpec noVarFileInfo = eight;
  noVarFileInfo.varFileInfo = false;
  VersionInfoSpec shortTranslation = eight;
  shortTranslation.translation = {0x0409};
  VersionInfoSpec noTables;

  // A tree with a binary value under StringFileInfo and a text one at the top.
  VersionNode odd = VersionTree(eight);
  odd.children[0].children[0].children[1].type = 0;
  odd.children.push_back({u"Extra", 1, {'x', 0, 0, 0}});
  PeImageSpec oddImage;
  oddImage.resources = {{16, 1, 0, WriteVersionNode(odd)}};

  const Bytes version = BuildVersionResource(eight);
  PeImageSpec languages;
  languages.resources = {{16, 1, 0x0411, version}, {16, 1, 0x0407, version}};
  PeImageSpec neutral = languages;
  neutral.resources.push_back({16, 1, 0, version});
  PeImageSpec others;
  others.resources = {
      {3, 1, 0x0409, Bytes(40, 0x11)}, {6, 7, 0x0409, Bytes(20, 0x22)}, {16, 1, 0x0409, version}};
  PeImageSpec otherName;
  otherName.resources = {{16, 2, 0x0409, version}};
  PeImageSpec icon;
  icon.resources = {{3, 1, 0x0409, Bytes(40, 1)}};
  PeImageSpec farSection;
  farSection.resources = {{16, 1, 0x0409, version}};
  farSection.textSize = 0x3000;
  PeImageSpec farData = farSection;
  farData.resourceDataGap = 70000;
  PeImageSpec noResources;

  const Bytes simple = SimpleVersionedImage(kAllEight);
  std::vector<Bytes> seeds = {
      simple,
      SimpleVersionedImage(kAllEight, true),
      Image(eight, false, true),
      Image(japanese),
      Image(two, true),
      Image(lengths),
      Image(noVarFileInfo),
      Image(shortTranslation),
      Image(noTables),
      BuildPeImage(oddImage),
      BuildPeImage(languages),
      BuildPeImage(neutral),
      BuildPeImage(others),
      BuildPeImage(otherName),
      BuildPeImage(icon),
      BuildPeImage(farSection),
      BuildPeImage(farData),
      BuildPeImage(noResources),
      DosProgram(),
      FromText("MZ"),
  };
  for (size_t size : {size_t{0x40}, size_t{0x100}, size_t{0x400}, simple.size() - 16}) {
    seeds.push_back(Truncated(simple, size));
  }
  for (Bytes& seed : NeSeeds()) seeds.push_back(std::move(seed));
  return seeds;
}

std::vector<Bytes> Texts(const std::vector<std::string>& texts) {
  std::vector<Bytes> seeds;
  for (const std::string& text : texts) seeds.push_back(FromText(text));
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  using namespace std::string_literals;
  const struct {
    const char* target;
    std::vector<Bytes> seeds;
  } corpora[] = {
      {"version_reader", VersionReaderSeeds()},
      {"match_pattern",
       Texts({"*.dll\0viewer.dll"s, "*.DLL\0viewer.dll"s, "a?c\0abc"s, "*a*b*c\0xaybzc"s,
              "\0anything"s, "*\0"s, "???\0ab"s, "*.*\0noext"s, "*aaaa*b\0aaaaaaaaaaaaaaaa"s,
              "\xe3\x83\xab*\0\xe3\x83\xab\xe3\x83\xa2"s})},
      {"date_option", Texts({"", "-", "+", "3/1", "3/1+", "3/1-", "12/31", "15", "15+", "0/0",
                             "2/29", "99999999999/1", "13/40-", "1/", "/5", "3/31", "10/27-"})},
      {"option_argument", Texts({"", "S", "sN1", "012", "20", "v", "D3/1", "d", "SD3/1+", "xyz?",
                                 "NSV2D-", "D12/31-"})},
  };
  const std::string root = argv[1];
  mkdir(root.c_str(), 0755);
  for (const auto& corpus : corpora) {
    const std::string directory = root + "/" + corpus.target;
    mkdir(directory.c_str(), 0755);
    for (size_t i = 0; i < corpus.seeds.size(); ++i) {
      if (!Write(directory + "/seed-" + std::to_string(i), corpus.seeds[i])) {
        perror(directory.c_str());
        return 1;
      }
    }
  }
  return 0;
}
