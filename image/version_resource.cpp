#include "image/version_resource.h"

#include <algorithm>
#include <cstring>

namespace {

// wLength, wValueLength, wType; the key follows.
constexpr uint64_t kNodeHeaderSize = 6;
constexpr uint16_t kTextType = 1;

// Offsets are from the start of the block, which is where alignment is counted from.
uint64_t Align4(uint64_t offset) {
  return (offset + 3) & ~uint64_t{3};
}

struct Node {
  uint64_t start = 0;
  uint64_t end = 0;  // start + wLength
  uint16_t valueLength = 0;
  uint16_t type = 0;
  uint64_t keyUnits = 0;    // the key's units, at start + kNodeHeaderSize, without its NUL
  uint64_t valueStart = 0;  // may lie past `end` when there is no value
};

// wValueLength counts 16-bit units for text and bytes otherwise.
uint64_t StoredValueSize(const Node& node) {
  return node.type == kTextType ? uint64_t{node.valueLength} * 2 : node.valueLength;
}

// Reads the node at `start`, which must end by `limit`. kAbsent: its wLength is 0.
QueryStatus ReadNode(ByteView block, uint64_t start, uint64_t limit, Node* node) {
  uint16_t length = 0;
  if (!ReadU16(block, start, &length)) return QueryStatus::kCorrupt;
  if (length == 0) return QueryStatus::kAbsent;
  if (length < kNodeHeaderSize || start > limit || limit - start < length) {
    return QueryStatus::kCorrupt;
  }
  node->start = start;
  node->end = start + length;
  ReadU16(block, start + 2, &node->valueLength);
  ReadU16(block, start + 4, &node->type);
  // The key, NUL included, must lie within the node.
  for (uint64_t at = start + kNodeHeaderSize;; at += 2) {
    uint16_t unit = 0;
    if (node->end - at < 2 || !ReadU16(block, at, &unit)) return QueryStatus::kCorrupt;
    if (unit == 0) {
      node->keyUnits = (at - start - kNodeHeaderSize) / 2;
      node->valueStart = Align4(at + 2);
      return QueryStatus::kFound;
    }
  }
}

uint32_t FoldAscii(uint32_t c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

bool KeyMatches(ByteView block, const Node& node, const char* name, size_t nameLength) {
  if (node.keyUnits != nameLength) return false;
  for (size_t i = 0; i < nameLength; ++i) {
    uint16_t unit = 0;
    ReadU16(block, node.start + kNodeHeaderSize + uint64_t{i} * 2, &unit);
    if (FoldAscii(unit) != FoldAscii(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

bool NameIs(const char* name, size_t nameLength, const char* expected) {
  if (nameLength != std::strlen(expected)) return false;
  for (size_t i = 0; i < nameLength; ++i) {
    if (FoldAscii(static_cast<unsigned char>(name[i])) !=
        FoldAscii(static_cast<unsigned char>(expected[i]))) {
      return false;
    }
  }
  return true;
}

// Finds the first child of `parent` whose key is `name`. A child of length 0 ends the search.
QueryStatus FindChild(ByteView block, const Node& parent, const char* name, size_t nameLength,
                      Node* child) {
  uint64_t at = Align4(parent.valueStart + StoredValueSize(parent));
  // Fewer bytes than a header at the end are padding.
  while (at < parent.end && parent.end - at >= kNodeHeaderSize) {
    const QueryStatus read = ReadNode(block, at, parent.end, child);
    if (read != QueryStatus::kFound) return read;
    if (KeyMatches(block, *child, name, nameLength)) return QueryStatus::kFound;
    at = Align4(child->end);
  }
  return QueryStatus::kAbsent;
}

}  // namespace

QueryStatus FindVersionValue(ByteView block, const char* subBlock, VersionValue* value) {
  Node node;
  if (ReadNode(block, 0, block.size, &node) != QueryStatus::kFound) return QueryStatus::kCorrupt;
  bool text = false;
  bool root = true;
  for (const char* at = subBlock; *at != '\0';) {
    if (*at == '\\') {
      ++at;
      continue;
    }
    const char* end = at;
    while (*end != '\0' && *end != '\\') ++end;
    const size_t length = static_cast<size_t>(end - at);
    if (root) text = NameIs(at, length, "StringFileInfo");
    Node child;
    const QueryStatus found = FindChild(block, node, at, length, &child);
    if (found != QueryStatus::kFound) return found;
    node = child;
    root = false;
    at = end;
  }

  const uint64_t valueStart = std::min(node.valueStart, node.end);
  const uint64_t available = node.end - valueStart;
  uint64_t size = std::min(StoredValueSize(node), available);
  if (text) {
    // At most wValueLength units, whatever wType says, and up to the first NUL.
    const uint64_t limit = std::min<uint64_t>(node.valueLength, available / 2);
    uint64_t units = 0;
    uint16_t unit = 1;
    while (units < limit && ReadU16(block, valueStart + units * 2, &unit) && unit != 0) ++units;
    size = units * 2;
  } else if (root && size == 0) {
    return QueryStatus::kAbsent;
  }
  value->text = text;
  if (!Slice(block, valueStart, size, &value->bytes)) return QueryStatus::kCorrupt;
  return QueryStatus::kFound;
}
