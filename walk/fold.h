#pragma once

#include <string>

// Turns 'A'-'Z' into 'a'-'z' and leaves every other byte alone, double-byte characters
// included.
inline char FoldByte(char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte + ('a' - 'A')) : byte;
}

void FoldToLower(std::string* text);
