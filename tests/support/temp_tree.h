// A directory tree in a fresh temporary directory, removed when the object goes.
#pragma once

#include <cstdint>
#include <string>

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The tree's root, without a trailing "/".
  const std::string& root() const { return root_; }
  // root() + "/" + relative.
  std::string Path(const std::string& relative) const;

  // Each makes one entry at a path relative to the root (its parent must exist) and aborts
  // the test on failure. mtime: seconds since 1970-01-01 UTC.
  void Dir(const std::string& relative, int64_t mtime = 1700000000);
  void File(const std::string& relative, const std::string& contents, int64_t mtime = 1700000000);
  void Symlink(const std::string& relative, const std::string& target);
  void Fifo(const std::string& relative, int64_t mtime = 1700000000);
  // A Unix-domain socket that nothing listens on.
  void Socket(const std::string& relative, int64_t mtime = 1700000000);
  // A sparse file of `size` bytes.
  void Sparse(const std::string& relative, uint64_t size, int64_t mtime = 1700000000);
  // `depth` nested directories named `name` in `relative` ("" for the root), and the file
  // `leaf` holding `contents` in the deepest: relative + ("/" + name) * depth + "/" + leaf.
  // Built through descriptors, so its paths may be longer than PATH_MAX.
  void Nest(const std::string& relative, const std::string& name, int depth,
            const std::string& leaf, const std::string& contents, int64_t mtime = 1700000000);
  // Sets the write time of an existing entry (of the link itself for a symbolic link). Adding
  // an entry to a directory changes the directory's write time: set it after.
  void SetMtime(const std::string& relative, int64_t mtime);

 private:
  std::string root_;
};
