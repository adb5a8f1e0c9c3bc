// Queries over a raw VS_VERSIONINFO resource, matching paths as VerQueryValueA does.
#pragma once

#include <cstdint>

#include "image/byte_view.h"

enum class QueryStatus {
  kFound,
  kAbsent,   // no such node, or a node of length 0 ended the search
  kCorrupt,  // a node on the way has a length, key or place that cannot be right
};

struct VersionValue {
  // Binary: the value's bytes. Text: its UTF-16LE units, up to (not including) the first NUL;
  // or, when `ansi`, its bytes in code page `codePage`, up to the first NUL.
  ByteView bytes;
  bool text = false;
  bool ansi = false;
  // Of an ANSI string: the code page that its string table's key names ("040904E4": 1252),
  // 0 when the key is not eight hexadecimal digits.
  uint16_t codePage = 0;
};

// Finds `subBlock`, e.g. "\VarFileInfo\Translation" or "\StringFileInfo\040904b0\CompanyName",
// in `block`. Components match keys case-insensitively (ASCII) and empty components are
// skipped. Values under StringFileInfo are text; all others are binary. A path without
// components gives the root's value, the VS_FIXEDFILEINFO. `value` points into `block`.
//
// The block is in the 32-bit form (UTF-16 keys and strings, wType) or in the 16-bit form (ANSI
// keys and strings, no wType), told apart as Windows does by the byte at offset 4, where the
// first holds wType and the second its key: the 16-bit form when that byte is 0x20 to 0x7F.
QueryStatus FindVersionValue(ByteView block, const char* subBlock, VersionValue* value);
