// The POSIX listing in process: its order, and entries that change between the listing and
// the report.
#include "platform/dir_listing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/pe_image_writer.h"
#include "platform/version_info.h"
#include "support/listing_entry.h"
#include "support/temp_tree.h"

namespace {

constexpr int64_t kTime = 1700000000;

std::string Versioned(const char16_t* company) {
  return AsString(SimpleVersionedImage({{u"CompanyName", company}}));
}

// The names of `directory` in the listing's order, "." and ".." included.
std::vector<std::string> Listed(const std::string& directory) {
  std::vector<std::string> names;
  DirListing* listing = OpenListing(directory + "/", nullptr);
  if (listing == nullptr) return names;
  FileEntry entry;
  while (ReadListingEntry(listing, &entry)) names.push_back(entry.name);
  CloseListing(listing);
  return names;
}

TEST(DirListing, OrdersNamesAsNtfs) {
  // Each set is made in reverse and must come back in the order given.
  const std::vector<std::vector<std::string>> orders = {
      {"A", "a"},                                 // ties are broken by the raw bytes
      {"aB", "ab", "Ab0"},                        // folded first, then by the bytes
      {"Y", "z", "[", "_", "{"},                  // 'a'-'z' sort as 'A'-'Z', so before "[" and "_"
      {"abcdefghZ", "ABCDEFGHZZ", "abcdefghz_"},  // past the first eight bytes too
      {"-", "0", "a", "\x7f", "\x80", "\xff"},    // bytes unsigned
  };
  for (const auto& order : orders) {
    TempTree tree;
    for (auto name = order.rbegin(); name != order.rend(); ++name) tree.File(*name, "");
    std::vector<std::string> expected = {".", ".."};
    expected.insert(expected.end(), order.begin(), order.end());
    EXPECT_EQ(Listed(tree.root()), expected);
  }
}

bool EndsInDll(const char* name) {
  const std::string text = name;
  return text.size() >= 4 && text.compare(text.size() - 4, 4, ".dll") == 0;
}

TEST(DirListing, LeavesOutWhatTheFilterRefusesButDirectoriesAndTheFirstPlainName) {
  struct Case {
    std::vector<std::string> files;
    std::vector<std::string> listed;  // after "." and ".."
  };
  // "sub" is a directory in every tree.
  const Case cases[] = {
      {{"a.dll", "b.txt", "c.txt", "d.dll"}, {"a.dll", "b.txt", "d.dll", "sub"}},
      // The refused name that lists first is kept, whichever order the directory gives.
      {{"z.txt", "m.txt", "x.dll"}, {"m.txt", "sub", "x.dll"}},
      // A refused dot name is never needed; the plain one after it is.
      {{".hidden.txt", ".seen.dll", "-dash", "e.txt"}, {"-dash", ".seen.dll", "sub"}},
      {{"only.txt"}, {"only.txt", "sub"}},
  };
  for (const Case& c : cases) {
    TempTree tree;
    for (const std::string& name : c.files) tree.File(name, "");
    tree.Dir("sub");
    std::vector<std::string> expected = {".", ".."};
    expected.insert(expected.end(), c.listed.begin(), c.listed.end());
    SetListingFilter(EndsInDll);
    EXPECT_EQ(Listed(tree.root()), expected) << c.files.front();
    SetListingFilter(nullptr);
    EXPECT_EQ(Listed(tree.root()).size(), c.files.size() + 3) << c.files.front();
  }
}

TEST(DirListing, ListsADirectoryThatTakesManyReadsOfItsEntries) {
  // Names of 200 bytes: about 300 fill one read of the entries.
  TempTree tree;
  std::vector<std::string> expected = {".", ".."};
  for (int i = 0; i < 2000; ++i) {
    char number[8];
    snprintf(number, sizeof number, "%05d", i);
    expected.push_back(std::string(195, 'n') + number);
    tree.File(expected.back(), "");
  }
  EXPECT_EQ(Listed(tree.root()), expected);
}

// The listing and the report of one entry, in process, with the file changed in between.
struct ChangeCase {
  const char* name;
  bool beforeDetails;  // changed before ReadEntryDetails, else after it
  std::function<void(const std::string& path)> change;
  int32_t writeTime;
  uint32_t size;
  bool versioned;
};

TEST(HostileTree, EntryChangedBetweenListingAndReportIsHandled) {
  const std::string image = Versioned(u"Race");
  const uint32_t full = static_cast<uint32_t>(image.size());
  // Each change keeps the write time, so that only what the listing saw can differ.
  const auto keepTime = [](const std::string& path) {
    const timespec times[2] = {{kTime, 0}, {kTime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  };
  const auto remove = [](const std::string& path) { ASSERT_EQ(unlink(path.c_str()), 0); };
  const auto cut = [&](const std::string& path) {
    ASSERT_EQ(truncate(path.c_str(), 100), 0);
    keepTime(path);
  };
  const auto fifo = [&](const std::string& path) {
    remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    keepTime(path);
  };
  const auto directory = [&](const std::string& path) {
    remove(path);
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    keepTime(path);
  };
  const ChangeCase cases[] = {
      {"unchanged", true, [](const std::string&) {}, kTime, full, true},
      {"deleted before its details", true, remove, -1, 0, false},
      {"truncated before its details", true, cut, kTime, 100, false},
      {"truncated after its details", false, cut, kTime, full, false},
      {"replaced by a FIFO before its details", true, fifo, kTime, 0, false},
      {"replaced by a directory before its details", true, directory, kTime, 0, false},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempTree tree;
    tree.File("x.dll", image, kTime);
    FileEntry entry;
    DirListing* listing = OpenListingAtEntry(tree.root() + "/", "x.dll", &entry);
    ASSERT_NE(listing, nullptr);
    if (c.beforeDetails) c.change(tree.Path("x.dll"));
    ReadEntryDetails(listing, &entry);
    if (!c.beforeDetails) c.change(tree.Path("x.dll"));
    VersionBlock* block = LoadVersionInfo(listing, tree.Path("x.dll"));
    EXPECT_EQ(entry.writeTime, c.writeTime);
    EXPECT_EQ(entry.size, c.size);
    EXPECT_EQ(block != nullptr, c.versioned);
    FreeVersionInfo(block);
    CloseListing(listing);
  }
}

}  // namespace
