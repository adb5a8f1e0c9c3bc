// What the end-to-end tests give their files, and the first line lumo prints for such a file.
#pragma once

#include <cstdint>
#include <string>

// The write time of most test files: 2023/11/14 22:13:20 UTC.
constexpr int64_t kTime = 1700000000;
inline const std::string kDate = "\t2023/11/14 22:13:20\t";

// The line of path, date and time, and size.
inline std::string Line(const std::string& path, int64_t size, const std::string& date = kDate) {
  return path + date + std::to_string(size) + "\n";
}

// The same line heading the block of a file with version information.
inline std::string Head(const std::string& path, size_t size) {
  return Line(path, static_cast<int64_t>(size));
}
