#include "platform/posix/output_charset.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <string.h>
#include <strings.h>

#include <initializer_list>
#include <string>

namespace {

bool gUtf8 = true;
// UTF-8 to the output charset, and Shift_JIS to it, where the output is not UTF-8.
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
iconv_t gFromUtf8 = kNoConverter;
iconv_t gFromShiftJis = kNoConverter;
bool gShiftJisOutput = false;
std::string gCharset = "UTF-8";  // the output charset as iconv names it
// The last code page converted from, and its converter to the output charset.
unsigned gCodePage = 0;
iconv_t gFromCodePage = kNoConverter;

bool IsOneOf(const char* charset, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (strcasecmp(charset, name) == 0) return true;
  }
  return false;
}

size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

size_t ShiftJisCharacterLength(unsigned char lead) {
  return ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) ? 2 : 1;
}

// Of the other double-byte code pages (936, 949, 950).
size_t DoubleByteCharacterLength(unsigned char lead) {
  return lead >= 0x81 && lead <= 0xFE ? 2 : 1;
}

size_t SingleByteCharacterLength(unsigned char) {
  return 1;
}

// Of the output charset, where its second bytes may be ASCII.
size_t (*gOutputCharacterLength)(unsigned char) = SingleByteCharacterLength;

// What iconv calls a Windows code page.
std::string IconvName(unsigned codePage) {
  switch (codePage) {
    case 65001:
      return "UTF-8";
    case 20127:
      return "US-ASCII";
    case 10000:
      return "MACINTOSH";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 20932:
    case 51932:
      return "EUC-JP";
  }
  if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
  return "CP" + std::to_string(codePage);
}

constexpr unsigned kFallbackCodePage = 1252;

// The converter from `codePage` to the output charset: Windows-1252's where the code page is 0
// or one that iconv does not know.
iconv_t CodePageConverter(unsigned codePage) {
  if (gFromCodePage != kNoConverter && gCodePage == codePage) return gFromCodePage;
  if (gFromCodePage != kNoConverter) iconv_close(gFromCodePage);
  gCodePage = codePage;
  gFromCodePage =
      codePage == 0 ? kNoConverter : iconv_open(gCharset.c_str(), IconvName(codePage).c_str());
  if (gFromCodePage == kNoConverter && codePage != kFallbackCodePage) {
    gFromCodePage = iconv_open(gCharset.c_str(), IconvName(kFallbackCodePage).c_str());
  }
  return gFromCodePage;
}

// Converts with `converter`, putting "?" for each character it cannot take.
void ConvertReplacing(iconv_t converter, const char* in, size_t inLeft,
                      size_t (*characterLength)(unsigned char), std::string* out) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char chunk[256];
  char* inPtr = const_cast<char*>(in);
  while (inLeft > 0) {
    char* outPtr = chunk;
    size_t outLeft = sizeof chunk;
    const size_t result = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    out->append(chunk, static_cast<size_t>(outPtr - chunk));
    if (result != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    out->push_back('?');
    if (errno != EILSEQ) break;  // an incomplete character at the end
    const size_t skip = characterLength(static_cast<unsigned char>(*inPtr));
    const size_t step = skip < inLeft ? skip : inLeft;
    inPtr += step;
    inLeft -= step;
  }
}

void AppendUtf8(uint32_t codePoint, std::string* out) {
  if (codePoint < 0x80) {
    out->push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out->push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

void AppendUtf16AsUtf8(const uint8_t* utf16le, size_t units, std::string* out) {
  for (size_t i = 0; i < units; ++i) {
    const uint32_t unit = utf16le[2 * i] | (uint32_t{utf16le[2 * i + 1]} << 8);
    if (unit < 0xD800 || unit > 0xDFFF) {
      AppendUtf8(unit, out);
      continue;
    }
    if (unit <= 0xDBFF && i + 1 < units) {
      const uint32_t low = utf16le[2 * i + 2] | (uint32_t{utf16le[2 * i + 3]} << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
        ++i;
        continue;
      }
    }
    out->push_back('?');  // an unpaired surrogate
  }
}

}  // namespace

void InitOutputCharset() {
  SelectOutputCharset(nl_langinfo(CODESET));
}

void SelectOutputCharset(const char* charset) {
  for (iconv_t* converter : {&gFromUtf8, &gFromShiftJis, &gFromCodePage}) {
    if (*converter != kNoConverter) iconv_close(*converter);
    *converter = kNoConverter;
  }
  gUtf8 = true;
  gShiftJisOutput = false;
  gOutputCharacterLength = SingleByteCharacterLength;
  gCharset = "UTF-8";
  if (charset == nullptr || *charset == '\0' ||
      IsOneOf(charset, {"ANSI_X3.4-1968", "ASCII", "US-ASCII", "UTF-8", "UTF8"})) {
    return;
  }
  gFromUtf8 = iconv_open(charset, "UTF-8");
  gFromShiftJis = iconv_open(charset, "CP932");
  if (gFromUtf8 == kNoConverter || gFromShiftJis == kNoConverter) {
    return;  // a charset iconv does not know: UTF-8 after all
  }
  gUtf8 = false;
  gCharset = charset;
  gShiftJisOutput = IsOneOf(charset, {"SHIFT_JIS", "SHIFT-JIS", "SJIS", "CP932", "WINDOWS-31J",
                                      "MS_KANJI", "CSSHIFTJIS", "IBM-943", "MS932"});
  if (gShiftJisOutput) {
    gOutputCharacterLength = ShiftJisCharacterLength;
  } else if (IsOneOf(charset, {"GBK", "GB18030", "CP936", "BIG5", "BIG5-HKSCS", "BIG5HKSCS",
                               "CP950", "CP949", "UHC"})) {
    gOutputCharacterLength = DoubleByteCharacterLength;
  }
}

void AppendUtf16InOutputCharset(const uint8_t* utf16le, size_t units, std::string* out) {
  if (gUtf8) {
    AppendUtf16AsUtf8(utf16le, units, out);
    return;
  }
  std::string utf8;
  AppendUtf16AsUtf8(utf16le, units, &utf8);
  ConvertReplacing(gFromUtf8, utf8.data(), utf8.size(), Utf8SequenceLength, out);
}

void AppendCodePageInOutputCharset(const uint8_t* bytes, size_t size, unsigned codePage,
                                   std::string* out) {
  const iconv_t converter = CodePageConverter(codePage);
  if (converter == kNoConverter) {
    // Not even Windows-1252 is known: ASCII alone.
    for (size_t i = 0; i < size; ++i)
      out->push_back(bytes[i] < 0x80 ? static_cast<char>(bytes[i]) : '?');
    return;
  }
  size_t (*characterLength)(unsigned char) = SingleByteCharacterLength;
  if (codePage == 932) characterLength = ShiftJisCharacterLength;
  if (codePage == 936 || codePage == 949 || codePage == 950) {
    characterLength = DoubleByteCharacterLength;
  }
  ConvertReplacing(converter, reinterpret_cast<const char*>(bytes), size, characterLength, out);
}

std::string ShiftJisInOutputCharset(const char* shiftJis) {
  std::string out;
  const size_t length = strlen(shiftJis);
  if (gShiftJisOutput) {
    out.assign(shiftJis, length);
  } else if (gUtf8) {
    static const iconv_t toUtf8 = iconv_open("UTF-8", "CP932");
    if (toUtf8 == kNoConverter) return shiftJis;
    ConvertReplacing(toUtf8, shiftJis, length, ShiftJisCharacterLength, &out);
  } else {
    ConvertReplacing(gFromShiftJis, shiftJis, length, ShiftJisCharacterLength, &out);
  }
  return out;
}

bool OutputLeadByte(unsigned char byte) {
  return gOutputCharacterLength(byte) == 2;
}
