#include "walk/fold.h"

void FoldToLower(std::string* text) {
  for (char& byte : *text) byte = FoldByte(byte);
}
