// make_bench_tree DIR [PERCENT]: writes the benchmark tree into DIR, which must not exist.
// make_bench_tree --images DIR COUNT: writes COUNT PE images alone, a hundred to a directory.
// At 100 percent: about 10,000 directories up to 8 levels below DIR holding about 190,000
// files, mostly small and not PE images; about 2% are PE32/PE32+ images with a version
// resource, some of them tens of MB with .rsrc at the end behind a hole; a few large files
// that are not images. The same on every machine for a given PERCENT, write times included.
// Prints one line: "entries N directories D files F images P bytes B" (B: apparent size).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "fixtures/pe_image_writer.h"

namespace {

constexpr int kMaxDepth = 8;
constexpr uint64_t kFullDirectories = 10000;
constexpr uint64_t kFullFiles = 190000;
constexpr uint64_t kFullLargeImages = 12;
constexpr uint64_t kFullLargeFiles = 6;
constexpr int64_t kEarliest = 978307200;  // 2001-01-01 00:00:00 UTC
constexpr int64_t kLatest = 1767225599;   // 2025-12-31 23:59:59 UTC

// xorshift64*: the same numbers everywhere.
uint64_t gState = 0x9E3779B97F4A7C15ull;

uint64_t Next() {
  gState ^= gState >> 12;
  gState ^= gState << 25;
  gState ^= gState >> 27;
  return gState * 0x2545F4914F6CDD1Dull;
}

// A number in [0, bound).
uint64_t Below(uint64_t bound) {
  return bound == 0 ? 0 : Next() % bound;
}

bool Chance(unsigned percentTimesTen) {
  return Below(1000) < percentTimesTen;
}

template <typename T, size_t N>
const T& Pick(const T (&items)[N]) {
  return items[Below(N)];
}

struct Directory {
  std::string path;  // relative to the root, "" for the root itself
  int depth;
  std::unordered_set<std::string> names;
  std::string lastFile;  // the latest file made in it, for links to point at
};

struct Counts {
  uint64_t directories = 0;
  uint64_t files = 0;
  uint64_t links = 0;
  uint64_t images = 0;
  uint64_t bytes = 0;
};

const char* const kSyllables[] = {"ka", "lo",  "mi", "ren", "to",  "sha", "vi",  "dor", "en",
                                  "qu", "ix",  "al", "ber", "cor", "dan", "fel", "gor", "hin",
                                  "jo", "kel", "ma", "nor", "pa",  "ru",  "sa",  "tin", "ul"};
const char* const kWords[] = {"config", "readme", "setup",  "data",    "index",  "main",
                              "util",   "helper", "module", "test",    "report", "image",
                              "cache",  "notes",  "draft",  "archive", "backup", "log"};
const char* const kExtensions[] = {".txt", ".log", ".dat", ".cfg", ".ini", ".xml", ".json",
                                   ".h",   ".cpp", ".c",   ".py",  ".png", ".jpg", ".html",
                                   ".css", ".js",  ".md",  ".csv", ".so",  ".bin", "",
                                   ".TXT", ".JPG", ".pdf", ".tmp", ".gz",  ".o",   ".mo"};
const char* const kCompanies[] = {"Contoso Ltd.",  "Fabrikam, Inc.",    "Northwind Traders",
                                  "Tailspin Toys", "Lumo Sample Works", "Adventure Works"};
const char* const kProducts[] = {"Contoso Suite",    "Fabrikam Studio", "Northwind Tools",
                                 "Tailspin Runtime", "Lumo Samples",    "Adventure Kit"};

std::string Stem() {
  std::string stem;
  switch (Below(6)) {
    case 0:  // camera and scanner style: a prefix and a long counter
      stem = Pick(kWords);
      stem += '_';
      stem += std::to_string(1000 + Below(9000));
      break;
    case 1:
      stem = Pick(kWords);
      stem += '-';
      stem += std::to_string(Below(10));
      stem += '.';
      stem += std::to_string(Below(20));
      stem += '.';
      stem += std::to_string(Below(100));
      break;
    default: {
      const uint64_t count = 1 + Below(5);
      for (uint64_t i = 0; i < count; ++i) stem += Pick(kSyllables);
      if (Chance(200)) stem += std::to_string(Below(100));
      break;
    }
  }
  switch (Below(10)) {
    case 0:
    case 1:
    case 2:
      stem[0] = static_cast<char>(stem[0] - 'a' + 'A');
      break;
    case 3:
      for (char& c : stem) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
      break;
    case 4:
      if (Chance(100)) stem += "\xc3\xa9t\xc3\xa9";  // "été" in UTF-8
      break;
    case 5:
      if (Chance(300)) stem += " copy";
      break;
    default:
      break;
  }
  return stem;
}

// A name not yet taken in `directory`.
std::string UniqueName(Directory* directory, const std::string& stem, const std::string& ext) {
  std::string name = stem + ext;
  for (int n = 2; !directory->names.insert(name).second; ++n) {
    name = stem + " (" + std::to_string(n) + ")" + ext;
  }
  return name;
}

int64_t RandomTime() {
  return kEarliest + static_cast<int64_t>(Below(static_cast<uint64_t>(kLatest - kEarliest)));
}

bool Fail(const std::string& path) {
  std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
  return false;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

// Writes `head`, then a hole up to `tailOffset`, then `tail`, then a hole up to `size`.
bool WriteFile(const std::string& path, const uint8_t* head, size_t headLength, uint64_t tailOffset,
               const uint8_t* tail, size_t tailLength, uint64_t size, int64_t mtime) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(path);
  bool ok = WriteAll(fd, head, headLength);
  if (ok && tailLength > 0) {
    ok = lseek(fd, static_cast<off_t>(tailOffset), SEEK_SET) >= 0 && WriteAll(fd, tail, tailLength);
  }
  if (ok) ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
  const struct timespec times[2] = {{static_cast<time_t>(mtime), 0},
                                    {static_cast<time_t>(mtime), 0}};
  if (ok) ok = futimens(fd, times) == 0;
  if (close(fd) != 0) ok = false;
  return ok || Fail(path);
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, int64_t mtime) {
  return WriteFile(path, bytes.data(), bytes.size(), 0, nullptr, 0, bytes.size(), mtime);
}

std::u16string Widen(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::string VersionText() {
  std::string text = std::to_string(1 + Below(12));
  text += '.';
  text += std::to_string(Below(10));
  text += '.';
  text += std::to_string(Below(3000));
  text += '.';
  text += std::to_string(Below(100));
  return text;
}

// A PE image with a version resource; `textSize` sets how far into the file .rsrc lies.
std::vector<uint8_t> VersionedImage(const std::string& name, bool dll, uint32_t textSize,
                                    PeLayout* layout) {
  const std::string company = Pick(kCompanies);
  const std::string version = VersionText();
  VersionInfoSpec info;
  info.fileType = dll ? 2 : 1;
  std::vector<VersionString> strings = {
      {u"CompanyName", Widen(company)},
      {u"FileDescription", Widen(name.substr(0, name.find('.')) + " module")},
      {u"FileVersion", Widen(version)},
      {u"InternalName", Widen(name.substr(0, name.find('.')))},
      {u"LegalCopyright",
       Widen("Copyright (C) " + std::to_string(2001 + Below(25)) + " " + company)},
      {u"OriginalFilename", Widen(name)},
      {u"ProductName", Widen(Pick(kProducts))},
      {u"ProductVersion", Widen(version.substr(0, version.rfind('.')))}};
  // Now and then a file leaves a string out, as real ones do.
  if (Chance(100)) strings.erase(strings.begin() + static_cast<ptrdiff_t>(Below(8)));
  if (Chance(50)) {
    info.translation = {0x0411, 0x04B0};
    info.tables = {{"041104B0", strings}};
  } else {
    info.tables = {{"040904B0", strings}};
  }
  PeImageSpec image;
  image.pe32Plus = Chance(500);
  image.dll = dll;
  image.textSize = textSize;
  // Some images carry other resources before the version resource, as most do.
  if (Chance(300)) {
    image.resources.push_back({3, 1, 0x0409, std::vector<uint8_t>(1024 + Below(4096), 0x55)});
    image.resources.push_back({14, 1, 0x0409, std::vector<uint8_t>(20, 0x01)});
  }
  image.resources.push_back({16, 1, 0x0409, BuildVersionResource(info)});
  return BuildPeImage(image, layout);
}

// Contents for an ordinary file: printable text of a typical small size.
std::vector<uint8_t> TextContents() {
  uint64_t size;
  const uint64_t roll = Below(100);
  if (roll < 70) {
    size = Below(1024);
  } else if (roll < 95) {
    size = 1024 + Below(3072);
  } else {
    size = 4096 + Below(28672);
  }
  std::vector<uint8_t> bytes(size);
  uint64_t word = Next();
  for (uint64_t i = 0; i < size; ++i) {
    if (i % 8 == 0) word = Next();
    const uint8_t c = static_cast<uint8_t>(word >> ((i % 8) * 8));
    bytes[i] = (i % 64 == 63) ? '\n' : static_cast<uint8_t>('a' + c % 26);
  }
  return bytes;
}

bool MakeImage(const std::string& root, Directory* directory, uint64_t largeBytes, Counts* counts) {
  const uint64_t roll = Below(100);
  const bool dll = roll < 60;
  const char* ext = dll ? (Chance(100) ? ".DLL" : ".dll") : roll < 95 ? ".exe" : ".sys";
  const std::string name = UniqueName(directory, Stem(), ext);
  const std::string path = root + "/" + directory->path + name;
  const int64_t mtime = RandomTime();
  ++counts->files;
  if (largeBytes == 0) {
    const uint32_t textSize = static_cast<uint32_t>(0x200 * (1 + Below(64)));
    const std::vector<uint8_t> image = VersionedImage(name, dll, textSize, nullptr);
    ++counts->images;
    counts->bytes += image.size();
    return WriteBytes(path, image, mtime);
  }
  // The code is a hole: only the headers' page and the resource section are written.
  PeLayout layout;
  const std::vector<uint8_t> image =
      VersionedImage(name, dll, static_cast<uint32_t>(largeBytes), &layout);
  ++counts->images;
  counts->bytes += image.size();
  return WriteFile(path, image.data(), 4096, layout.rsrc, image.data() + layout.rsrc,
                   image.size() - layout.rsrc, image.size(), mtime);
}

bool MakeFile(const std::string& root, Directory* directory, Counts* counts) {
  const uint64_t roll = Below(1000);
  const int64_t mtime = RandomTime();
  if (roll < 20) return MakeImage(root, directory, 0, counts);
  std::string path;
  std::vector<uint8_t> contents;
  if (roll < 22) {
    // An MZ program without a PE header.
    path = root + "/" + directory->path + UniqueName(directory, Stem(), ".exe");
    contents = DosProgram();
  } else if (roll < 24) {
    // Named as a library, but text.
    path = root + "/" + directory->path + UniqueName(directory, Stem(), ".dll");
    contents = TextContents();
  } else if (roll < 25) {
    // A link to a sibling, or one that leads nowhere.
    const std::string target = directory->lastFile.empty() ? "missing" : directory->lastFile;
    path = root + "/" + directory->path + UniqueName(directory, Stem(), ".lnk");
    const struct timespec times[2] = {{static_cast<time_t>(mtime), 0},
                                      {static_cast<time_t>(mtime), 0}};
    if (symlink(target.c_str(), path.c_str()) != 0 ||
        utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
      return Fail(path);
    }
    ++counts->links;
    return true;
  } else {
    const std::string stem = Stem();
    path = root + "/" + directory->path + UniqueName(directory, stem, Pick(kExtensions));
    contents = TextContents();
  }
  ++counts->files;
  counts->bytes += contents.size();
  directory->lastFile = path.substr(path.rfind('/') + 1);
  return WriteBytes(path, contents, mtime);
}

uint64_t Scaled(uint64_t full, uint64_t percent) {
  return std::max<uint64_t>(1, (full * percent + 50) / 100);
}

// The images tree: `count` images like the big tree's, a hundred to a directory.
int MakeImageTree(const std::string& root, uint64_t count) {
  Counts counts;
  std::vector<Directory> directories((count + 99) / 100);
  for (size_t i = 0; i < directories.size(); ++i) {
    directories[i].path = std::to_string(i);
    directories[i].path.insert(0, 1, 'd');
    directories[i].path += '/';
    if (mkdir((root + "/" + directories[i].path).c_str(), 0755) != 0) {
      Fail(directories[i].path);
      return 1;
    }
    ++counts.directories;
  }
  for (uint64_t i = 0; i < count; ++i) {
    // As many large ones as among the big tree's images.
    const uint64_t large = i % 300 == 299 ? (16 + Below(48)) << 20 : 0;
    if (!MakeImage(root, &directories[i / 100], large, &counts)) return 1;
  }
  std::printf("entries %llu directories %llu files %llu images %llu bytes %llu\n",
              static_cast<unsigned long long>(counts.directories + counts.files),
              static_cast<unsigned long long>(counts.directories),
              static_cast<unsigned long long>(counts.files),
              static_cast<unsigned long long>(counts.images),
              static_cast<unsigned long long>(counts.bytes));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool images = argc == 4 && std::strcmp(argv[1], "--images") == 0;
  if (images) {
    ++argv;
    --argc;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_bench_tree DIR [PERCENT] | --images DIR COUNT\n");
    return 2;
  }
  const std::string root = argv[1];
  if (images) {
    const uint64_t count = std::strtoull(argv[2], nullptr, 10);
    if (count == 0 || count > 1000000) {
      std::fprintf(stderr, "make_bench_tree: COUNT must be 1 to 1000000\n");
      return 2;
    }
    if (mkdir(root.c_str(), 0755) != 0) {
      Fail(root);
      return 1;
    }
    return MakeImageTree(root, count);
  }
  const uint64_t percent = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 100;
  if (percent == 0 || percent > 1000) {
    std::fprintf(stderr, "make_bench_tree: PERCENT must be 1 to 1000\n");
    return 2;
  }
  if (mkdir(root.c_str(), 0755) != 0) {
    Fail(root);
    return 1;
  }

  // Directories: each below a random earlier one that is not at the deepest level, a few of
  // them heavy with files.
  const uint64_t directoryCount = Scaled(kFullDirectories, percent);
  std::vector<Directory> directories;
  directories.reserve(directoryCount);
  directories.push_back({"", 0, {}, {}});
  std::vector<uint64_t> weights = {1};
  Counts counts;
  while (directories.size() < directoryCount) {
    const Directory& parent = directories[Below(directories.size())];
    if (parent.depth >= kMaxDepth) continue;
    const size_t parentIndex = static_cast<size_t>(&parent - directories.data());
    const std::string stem = Stem();
    const std::string name = UniqueName(&directories[parentIndex], stem, Chance(50) ? ".d" : "");
    Directory child{directories[parentIndex].path + name + "/", parent.depth + 1, {}, {}};
    if (mkdir((root + "/" + child.path).c_str(), 0755) != 0) {
      Fail(child.path);
      return 1;
    }
    directories.push_back(std::move(child));
    weights.push_back(Chance(20) ? 40 : 1);
    ++counts.directories;
  }

  // Files: each in a directory chosen by weight.
  std::vector<uint64_t> cumulative(weights.size());
  uint64_t total = 0;
  for (size_t i = 0; i < weights.size(); ++i) cumulative[i] = total += weights[i];
  const uint64_t fileCount = Scaled(kFullFiles, percent);
  const uint64_t largeImages = Scaled(kFullLargeImages, percent);
  const uint64_t largeFiles = Scaled(kFullLargeFiles, percent);
  auto chooseDirectory = [&]() -> Directory* {
    const uint64_t at = Below(total);
    const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), at);
    return &directories[static_cast<size_t>(it - cumulative.begin())];
  };
  for (uint64_t i = 0; i < fileCount; ++i) {
    if (!MakeFile(root, chooseDirectory(), &counts)) return 1;
  }
  for (uint64_t i = 0; i < largeImages; ++i) {
    const uint64_t size = (16 + Below(48)) << 20;
    if (!MakeImage(root, chooseDirectory(), size, &counts)) return 1;
  }
  for (uint64_t i = 0; i < largeFiles; ++i) {
    Directory* directory = chooseDirectory();
    const std::string stem = Stem();
    const std::string path =
        root + "/" + directory->path + UniqueName(directory, stem, Chance(500) ? ".iso" : ".vhd");
    const std::vector<uint8_t> head = TextContents();
    const uint64_t size = (20 + Below(80)) << 20;
    if (!WriteFile(path, head.data(), head.size(), 0, nullptr, 0, size, RandomTime())) return 1;
    ++counts.files;
    counts.bytes += size;
  }

  // Directory times last, deepest first: adding an entry changes its directory's time.
  for (size_t i = directories.size(); i-- > 0;) {
    const std::string path = root + "/" + directories[i].path;
    const int64_t mtime = RandomTime();
    const struct timespec times[2] = {{static_cast<time_t>(mtime), 0},
                                      {static_cast<time_t>(mtime), 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
      Fail(path);
      return 1;
    }
  }
  const uint64_t entries = counts.directories + counts.files + counts.links;
  std::printf("entries %llu directories %llu files %llu images %llu bytes %llu\n",
              static_cast<unsigned long long>(entries),
              static_cast<unsigned long long>(counts.directories),
              static_cast<unsigned long long>(counts.files + counts.links),
              static_cast<unsigned long long>(counts.images),
              static_cast<unsigned long long>(counts.bytes));
  return 0;
}
