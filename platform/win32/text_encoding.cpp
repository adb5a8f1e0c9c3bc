#include "platform/text_encoding.h"

#include <windows.h>

// The output is in the ANSI code page, and the built-in texts are shown as stored.
const char* LocalText(const char* shiftJis) {
  return shiftJis;
}

size_t OutputCharacterLength(const char* text, size_t length) {
  return length >= 2 && IsDBCSLeadByte(static_cast<BYTE>(*text)) ? 2 : 1;
}
