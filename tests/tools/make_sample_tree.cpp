// make_sample_tree DIR: (re)creates DIR holding a small sample tree of executables and other
// files, the same on every machine, byte for byte and in every write time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "fixtures/pe_image_writer.h"

namespace {

struct SampleFile {
  const char* path;  // relative to the root
  std::vector<uint8_t> contents;
  int64_t mtime;  // seconds since 1970-01-01 UTC
};

struct SampleDirectory {
  const char* path;  // "" is the root
  int64_t mtime;
};

std::vector<VersionString> EnglishStrings(const char16_t* description, const char16_t* version,
                                          const char16_t* internalName,
                                          const char16_t* originalName) {
  return {{u"CompanyName", u"Lumo Sample Works"},
          {u"FileDescription", description},
          {u"FileVersion", version},
          {u"InternalName", internalName},
          {u"LegalCopyright", u"Copyright (C) 2024 Lumo Sample Works"},
          {u"OriginalFilename", originalName},
          {u"ProductName", u"Lumo Samples"},
          {u"ProductVersion", u"1.2"}};
}

std::vector<uint8_t> Image(const VersionInfoSpec& version, bool pe32Plus, bool dll) {
  PeImageSpec spec;
  spec.pe32Plus = pe32Plus;
  spec.dll = dll;
  spec.resources = {{16, 1, 0x0409, BuildVersionResource(version)}};
  return BuildPeImage(spec);
}

std::vector<uint8_t> Text(const char* text) {
  const std::string s(text);
  return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<SampleFile> SampleFiles() {
  VersionInfoSpec viewer;
  viewer.fileVersion = 0x0001000200030004;
  viewer.productVersion = 0x0001000200000000;
  viewer.tables = {
      {"040904B0", EnglishStrings(u"Lumo Sample Viewer", u"1.2.3.4", u"viewer", u"viewer.exe")}};

  VersionInfoSpec library = viewer;
  library.fileType = 2;
  library.tables = {{"040904B0", EnglishStrings(u"Lumo Sample Library", u"1.2.0.17", u"samplelib",
                                                u"samplelib.dll")}};

  VersionInfoSpec viewer64 = viewer;
  viewer64.tables = {{"040904B0", EnglishStrings(u"Lumo Sample Viewer (64-bit)", u"1.2.3.4",
                                                 u"viewer64", u"viewer64.exe")}};

  VersionInfoSpec japanese = viewer;
  japanese.translation = {0x0411, 0x03A4};
  japanese.tables = {{"041103a4",
                      {{u"CompanyName", u"ルモ見本工房"},
                       {u"FileDescription", u"ルモ見本ビューア"},
                       {u"FileVersion", u"1.2.3.4"},
                       {u"InternalName", u"nihongo"},
                       {u"LegalCopyright", u"著作権 (C) 2024 ルモ見本工房"},
                       {u"OriginalFilename", u"nihongo.exe"},
                       {u"ProductName", u"ルモ見本"},
                       {u"ProductVersion", u"1.2"}}}};

  // String tables, but no Translation value to say which one to read.
  VersionInfoSpec untranslated = viewer;
  untranslated.varFileInfo = false;
  untranslated.tables = {
      {"040904B0", EnglishStrings(u"Lumo Sample Plug-in", u"0.9.0.0", u"plugin", u"plugin.dll")}};

  VersionInfoSpec tool = viewer;
  tool.tables = {{"040904B0", EnglishStrings(u"Lumo Sample Converter", u"2.0.1.0", u"convert",
                                             u"convert.exe")}};

  return {
      {"README.txt", Text("Sample files for lumo.\n"), 1698933910},  // 2023-11-02 14:05:10
      {"viewer.exe", Image(viewer, false, false), 1705311000},       // 2024-01-15 09:30:00
      {"viewer64.exe", Image(viewer64, true, false), 1705311000},
      {"samplelib.dll", Image(library, false, true), 1709923530},    // 2024-03-08 18:45:30
      {"nihongo.exe", Image(japanese, false, false), 1717070400},    // 2024-05-30 12:00:00
      {"plugin.dll", Image(untranslated, false, true), 1658386800},  // 2022-07-21 07:00:00
      {"tools/convert.exe", Image(tool, true, false), 1717229700},   // 2024-06-01 08:15:00
      {"tools/notes.txt", Text("Converter notes.\n"), 1717229700},
  };
}

// Children before parents: writing a file changes its directory's time.
const SampleDirectory kDirectories[] = {
    {"tools", 1717230000},  // 2024-06-01 08:20:00
    {"", 1717230000},
};

bool SetMtime(const std::string& path, int64_t mtime) {
  const struct timespec times[2] = {{static_cast<time_t>(mtime), 0},
                                    {static_cast<time_t>(mtime), 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) == 0) return true;
  std::perror(path.c_str());
  return false;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& contents) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) std::fprintf(stderr, "%s: cannot write\n", path.c_str());
  return written && closed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_tree DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  std::error_code error;
  std::filesystem::remove_all(root, error);
  for (const SampleDirectory& directory : kDirectories) {
    std::filesystem::create_directories(root + "/" + directory.path, error);
    if (error) {
      std::fprintf(stderr, "%s: %s\n", root.c_str(), error.message().c_str());
      return 1;
    }
  }
  for (const SampleFile& file : SampleFiles()) {
    const std::string path = root + "/" + file.path;
    if (!WriteFile(path, file.contents) || !SetMtime(path, file.mtime)) return 1;
  }
  for (const SampleDirectory& directory : kDirectories) {
    if (!SetMtime(root + "/" + directory.path, directory.mtime)) return 1;
  }
  return 0;
}
