#include "platform/text_encoding.h"

// The output is in the ANSI code page, and the built-in texts are shown as stored.
const char* LocalText(const char* shiftJis) {
  return shiftJis;
}
