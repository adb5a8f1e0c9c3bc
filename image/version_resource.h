// Queries over a raw VS_VERSIONINFO resource, matching paths as VerQueryValueA does.
#pragma once

#include "image/byte_view.h"

enum class QueryStatus {
  kFound,
  kAbsent,   // no such node, or a node of length 0 ended the search
  kCorrupt,  // a node on the way has a length, key or place that cannot be right
};

struct VersionValue {
  // Binary: the value's bytes. Text: its UTF-16LE units, up to (not including) the first NUL.
  ByteView bytes;
  bool text = false;
};

// Finds `subBlock`, e.g. "\VarFileInfo\Translation" or "\StringFileInfo\040904b0\CompanyName",
// in `block`. Components match keys case-insensitively (ASCII) and empty components are
// skipped. Values under StringFileInfo are text; all others are binary. A path without
// components gives the root's value, the VS_FIXEDFILEINFO. `value` points into `block`.
QueryStatus FindVersionValue(ByteView block, const char* subBlock, VersionValue* value);
