// The eight standard strings of a version resource, with their labels.
#pragma once

struct VersionField {
  // The key, which is also the English label; the Japanese label as Shift_JIS bytes; and the
  // empty label.
  const char* labels[3];
};

constexpr int kVersionFieldCount = 8;
extern const VersionField VersionFieldTable[kVersionFieldCount];
