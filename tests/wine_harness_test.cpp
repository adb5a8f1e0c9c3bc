// The harness that runs the Win32 build under Wine gives its output back in the POSIX form.
#include <gtest/gtest.h>

#include <string>

#include "support/wine.h"

namespace {

TEST(Win32Harness, GivesOutputBackInThePosixForm) {
  const struct {
    std::string raw;
    std::string posix;
  } cases[] = {
      {"Z:\\tmp\\a\t2023/11/14 22:13:20\t0\r\n", "/tmp/a\t2023/11/14 22:13:20\t0\n"},
      {".\\Sub\\f\r\n", "./Sub/f\n"},
      {"a\nb\r\n", "a<LF>\nb\n"},  // a bare LF stays in sight
      {"a\r\r\n", "a\r\n"},
      // Shift_JIS first: the 5C of a double-byte character is no separator.
      {"Z:\\\x95\x5c\x93\xfa\r\n", "/\xe8\xa1\xa8\xe6\x97\xa5\n"},
      {"\x83t\x83@\x83\x43\x83\x8b\r\n", "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(PosixForm(c.raw), c.posix) << c.raw;
}

}  // namespace
