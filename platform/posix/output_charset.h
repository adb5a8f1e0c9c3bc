// The output's charset on POSIX: the locale's, or UTF-8 where the locale says plain ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Chooses the output charset from the locale. Called once at start-up, after setlocale.
void InitOutputCharset();

// Chooses the output charset by its name, as iconv knows it.
void SelectOutputCharset(const char* charset);

// Appends `units` UTF-16LE code units, read from `utf16le` (2 * units bytes), converted to the
// output charset. A character the charset cannot represent, and an unpaired surrogate, becomes
// "?". A NUL unit is converted like any other.
void AppendUtf16InOutputCharset(const uint8_t* utf16le, size_t units, std::string* out);

// Appends `size` bytes of text in the Windows code page `codePage` (1252, 932, ...), converted to
// the output charset. Code page 0, and one that iconv does not know, is taken as Windows-1252.
// A character the charset cannot represent, and a byte sequence the code page does not define,
// becomes "?".
void AppendCodePageInOutputCharset(const uint8_t* bytes, size_t size, unsigned codePage,
                                   std::string* out);

// Converts Shift_JIS (code page 932) bytes to the output charset.
std::string ShiftJisInOutputCharset(const char* shiftJis);

// Whether `byte` begins a double-byte character of the output charset whose second byte may be
// ASCII (Shift_JIS, GBK, Big5, UHC). UTF-8 and the EUC charsets have no such characters.
bool OutputLeadByte(unsigned char byte);
