#include "platform/text_encoding.h"

#include <map>
#include <string>

#include "platform/posix/output_charset.h"

const char* LocalText(const char* shiftJis) {
  // Each built-in text is converted the first time it is asked for, and kept.
  static std::map<const char*, std::string> converted;
  auto found = converted.find(shiftJis);
  if (found == converted.end()) {
    found = converted.emplace(shiftJis, ShiftJisInOutputCharset(shiftJis)).first;
  }
  return found->second.c_str();
}

size_t OutputCharacterLength(const char* text, size_t length) {
  return length >= 2 && OutputLeadByte(static_cast<unsigned char>(*text)) ? 2 : 1;
}
