#include <gtest/gtest.h>

#include <string>

#include "platform/posix/output_charset.h"
#include "report/table_line.h"

namespace {

TEST(TableField, EscapesSeparatorsAndBackslashesButNotTheSecondByteOfAShiftJisCharacter) {
  const struct {
    const char* charset;
    std::string text;
    std::string field;
  } cases[] = {
      {"UTF-8", "a\tb\r\n\\t\x01", "a\\tb\\r\\n\\\\t\x01"},
      {"SHIFT_JIS", "\x95\x5c\x83\x5c\\", "\x95\x5c\x83\x5c\\\\"},  // 表ソ and a backslash
      {"SHIFT_JIS", "\x83\t\x83\n\x83", "\x83\\t\x83\\n\x83"},      // lead bytes standing alone
  };
  for (const auto& c : cases) {
    SelectOutputCharset(c.charset);
    std::string field;
    AppendTableField(c.text.data(), c.text.size(), &field);
    EXPECT_EQ(field, c.field) << c.charset;
  }
  SelectOutputCharset("UTF-8");
}

}  // namespace
