// The POSIX read-ahead's reading of many files' first bytes, through io_uring and one by one,
// and the version lookup that starts from those bytes.
#include "platform/posix/head_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "fixtures/pe_image_writer.h"
#include "platform/posix/posix_listing.h"
#include "support/temp_tree.h"

namespace {

long FileSystemType(const std::string& path) {
  struct statfs info;
  return statfs(path.c_str(), &info) == 0 ? static_cast<long>(info.f_type) : 0;
}

struct HeadCase {
  const char* name;
  int result;  // what the read gives: the bytes, up to kHeadSize, or -1
};

TEST(HeadReader, ReadsTheSameWhetherBatchedKeptInFlightOrOneByOne) {
  TempTree tree;
  tree.File("empty", "");
  tree.File("short", "MZ");
  tree.File("exact", std::string(kHeadSize, 'x'));
  tree.File("long", std::string(5000, 'y'));
  tree.Dir("dir");  // a read fails
  tree.Symlink("link", "long");
  const std::vector<HeadCase> cases = {
      {"empty", 0}, {"short", 2}, {"exact", static_cast<int>(kHeadSize)},
      {"dir", -1},  {"link", 64}, {"long", static_cast<int>(kHeadSize)},
  };
  std::vector<int> fds;
  for (const HeadCase& one : cases) {
    fds.push_back(open(tree.Path(one.name).c_str(), O_RDONLY));
    ASSERT_GE(fds.back(), 0) << one.name;
  }
  for (const bool batched : {true, false}) {
    SetHeadReadsBatched(batched);
    std::vector<std::vector<uint8_t>> bytes(cases.size(), std::vector<uint8_t>(kHeadSize));
    std::vector<HeadRead> reads;
    for (size_t i = 0; i < cases.size(); ++i) reads.push_back({fds[i], bytes[i].data(), -2});
    std::vector<HeadRead*> pointers;
    for (HeadRead& read : reads) pointers.push_back(&read);
    const bool waited = ReadHeads(pointers.data(), pointers.size());
    // Files just written are in the cache, which ext4 reads from without waiting: a read-ahead
    // that took them for a cold disk would start threads it does not need. (tmpfs may hand
    // io_uring's reads to a kernel worker, which then looks like waiting.)
    if (FileSystemType(tree.root()) == EXT4_SUPER_MAGIC) {
      EXPECT_FALSE(waited) << "batched " << batched;
    }
    for (size_t i = 0; i < cases.size(); ++i) {
      EXPECT_EQ(reads[i].result, cases[i].result) << cases[i].name << " batched " << batched;
    }
    EXPECT_EQ(bytes[1][0], 'M');
    EXPECT_EQ(bytes[5][kHeadSize - 1], 'y');
  }
  SetHeadReadsBatched(true);
  // Kept in flight: more rounds than the ring has slots, so that slots are used again; the
  // reads come back in any order.
  for (int round = 0; round < 10; ++round) {
    std::vector<std::vector<uint8_t>> bytes(cases.size(), std::vector<uint8_t>(kHeadSize));
    std::vector<HeadRead> reads;
    std::vector<HeadRead*> started;
    for (size_t i = 0; i < cases.size(); ++i) {
      reads.push_back({fds[i], bytes[i].data(), -2, const_cast<HeadCase*>(&cases[i])});
    }
    for (HeadRead& read : reads) started.push_back(&read);
    bool waited = false;
    if (!StartHeadReads(started.data(), started.size(), &waited)) break;  // no io_uring here
    HeadRead* back[kMaxHeadReadsOut];
    size_t taken = 0;
    while (taken < cases.size()) {
      const size_t got = TakeHeadReads(back, kMaxHeadReadsOut, true);
      ASSERT_GT(got, 0u);
      for (size_t i = 0; i < got; ++i) {
        const auto* expected = static_cast<const HeadCase*>(back[i]->owner);
        EXPECT_EQ(back[i]->result, expected->result) << expected->name << " round " << round;
      }
      taken += got;
    }
    EXPECT_EQ(HeadReadsOut(), 0u);
    EXPECT_EQ(bytes[5][kHeadSize - 1], 'y');
  }
  for (const int fd : fds) close(fd);
}

TEST(HeadReader, AThreadThatStartedNothingTakesNothingBackAndDoesNotWait) {
  // On a fresh thread the ring is not even set up; and with batched reads off none starts.
  std::thread([] {
    HeadRead* back[1];
    EXPECT_EQ(TakeHeadReads(back, 1, true), 0u);
    EXPECT_EQ(HeadReadsOut(), 0u);
    SetHeadReadsBatched(false);
    HeadRead read{STDIN_FILENO, nullptr, -2};
    HeadRead* reads[] = {&read};
    bool waited = false;
    EXPECT_FALSE(StartHeadReads(reads, 1, &waited));
    SetHeadReadsBatched(true);
  }).join();
}

TEST(HeadReader, VersionFromTheHeadIsWhatTheWholeFileGives) {
  const std::string image = AsString(SimpleVersionedImage({{u"CompanyName", u"Example Co."}}));
  TempTree tree;
  tree.File("image.dll", image);
  tree.File("truncated.dll", image.substr(0, image.size() / 2));
  tree.File("dos.exe", "MZ" + std::string(200, '\0'));
  tree.File("short.exe", "MZ" + std::string(10, '\0'));
  tree.File("text.txt", std::string(300, 't'));
  const int directory = open(tree.root().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0);
  for (const char* name : {"image.dll", "truncated.dll", "dos.exe", "short.exe", "text.txt"}) {
    const int fd = openat(directory, name, O_RDONLY);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> whole;
    const ResourceStatus expected = ReadVersionResourceOf(fd, UINT64_MAX, &whole, nullptr);
    std::vector<uint8_t> head(kHeadSize);
    const ssize_t got = pread(fd, head.data(), head.size(), 0);
    ASSERT_GE(got, 0);
    std::vector<uint8_t> fromHead;
    bool read = true;
    EXPECT_EQ(ReadVersionResourceFromHead(fd, UINT64_MAX, head.data(), static_cast<size_t>(got),
                                          &fromHead, &read),
              expected)
        << name;
    EXPECT_TRUE(read) << name;
    close(fd);
    EXPECT_EQ(fromHead, whole) << name;
  }
  close(directory);
}

}  // namespace
