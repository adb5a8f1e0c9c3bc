#include "platform/posix/output_charset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Utf16(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Convert(std::u16string_view text) {
  const std::string bytes = Utf16(text);
  std::string out;
  AppendUtf16InOutputCharset(reinterpret_cast<const uint8_t*>(bytes.data()), text.size(), &out);
  return out;
}

// "Company" in Japanese, as stored: 会社名.
const char kShiftJisCompany[] = "\x89\xef\x8e\xd0\x96\xbc";

class OutputCharset : public testing::Test {
 protected:
  void TearDown() override { SelectOutputCharset("UTF-8"); }
};

TEST_F(OutputCharset, Utf8TakesEveryCharacterAndMarksUnpairedSurrogates) {
  const struct {
    std::u16string text;
    std::string utf8;
  } cases[] = {
      {u"plain", "plain"},
      {u"\u00e9\u65e5", "\xc3\xa9\xe6\x97\xa5"},
      {u"\U0001F600", "\xf0\x9f\x98\x80"},
      // The first and last character of each length of UTF-8.
      {u"\u007f\u0080", "\x7f\xc2\x80"},
      {u"\u07ff\u0800", "\xdf\xbf\xe0\xa0\x80"},
      {u"\uffff\U00010000", "\xef\xbf\xbf\xf0\x90\x80\x80"},
      {u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},
      {{char16_t{0xD800}, u'x'}, "?x"},
      {{u'x', char16_t{0xDC00}}, "x?"},
      {std::u16string(2, char16_t{0xD800}), "??"},
  };
  for (const char* charset : {"UTF-8", "ANSI_X3.4-1968", ""}) {
    SelectOutputCharset(charset);
    for (const auto& c : cases) EXPECT_EQ(Convert(c.text), c.utf8) << charset;
    EXPECT_EQ(ShiftJisInOutputCharset(kShiftJisCompany), "\xe4\xbc\x9a\xe7\xa4\xbe\xe5\x90\x8d");
  }
}

TEST_F(OutputCharset, OtherCharsetsReplaceWhatTheyCannotHold) {
  SelectOutputCharset("ISO-8859-1");
  EXPECT_EQ(Convert(u"caf\u00e9 \u65e5\u672c!"), "caf\xe9 ?" "?!");
  EXPECT_EQ(Convert(std::u16string(1, char16_t{0xDBFF})), "?");
  EXPECT_EQ(ShiftJisInOutputCharset(kShiftJisCompany), "???");
  EXPECT_EQ(ShiftJisInOutputCharset("  -S  "), "  -S  ");

  SelectOutputCharset("EUC-JP");
  EXPECT_EQ(Convert(u"\u65e5"), "\xc6\xfc");
  EXPECT_EQ(ShiftJisInOutputCharset(kShiftJisCompany), "\xb2\xf1\xbc\xd2\xcc\xbe");
}

TEST_F(OutputCharset, ShiftJisOutputKeepsTheStoredBytes) {
  SelectOutputCharset("SHIFT_JIS");
  EXPECT_EQ(ShiftJisInOutputCharset(kShiftJisCompany), kShiftJisCompany);
  EXPECT_EQ(Convert(u"\u65e5"), "\x93\xfa");
}

}  // namespace
