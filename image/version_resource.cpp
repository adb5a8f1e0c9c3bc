#include "image/version_resource.h"

#include <algorithm>
#include <cstring>

namespace {

// The 32-bit form's node: wLength, wValueLength, wType, then the key in UTF-16. The 16-bit
// form's: wLength, wValueLength, then the key in ANSI.
struct Form {
  uint64_t headerSize;
  uint64_t unitSize;  // of the key and of text values
  bool ansi;
};
constexpr Form kForm32{6, 2, false};
constexpr Form kForm16{4, 1, true};
constexpr uint64_t kKeyStart = 4;
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
  uint64_t keyUnits = 0;    // the key's units, at start + headerSize, without its NUL
  uint64_t valueStart = 0;  // may lie past `end` when there is no value
};

bool ReadUnit(ByteView block, const Form& form, uint64_t at, uint16_t* unit) {
  if (form.unitSize == 2) return ReadU16(block, at, unit);
  uint8_t byte = 0;
  if (!ReadU8(block, at, &byte)) return false;
  *unit = byte;
  return true;
}

// wValueLength counts 16-bit units for text in the 32-bit form and bytes otherwise.
uint64_t StoredValueSize(const Form& form, const Node& node) {
  return !form.ansi && node.type == kTextType ? uint64_t{node.valueLength} * 2 : node.valueLength;
}

// Reads the node at `start`, which must end by `limit`. kAbsent: its wLength is 0.
QueryStatus ReadNode(ByteView block, const Form& form, uint64_t start, uint64_t limit, Node* node) {
  uint16_t length = 0;
  if (!ReadU16(block, start, &length)) return QueryStatus::kCorrupt;
  if (length == 0) return QueryStatus::kAbsent;
  if (length < form.headerSize || start > limit || limit - start < length) {
    return QueryStatus::kCorrupt;
  }
  node->start = start;
  node->end = start + length;
  ReadU16(block, start + 2, &node->valueLength);
  node->type = 0;
  if (!form.ansi) ReadU16(block, start + 4, &node->type);
  // The key, NUL included, must lie within the node.
  for (uint64_t at = start + form.headerSize;; at += form.unitSize) {
    uint16_t unit = 0;
    if (node->end - at < form.unitSize || !ReadUnit(block, form, at, &unit)) {
      return QueryStatus::kCorrupt;
    }
    if (unit == 0) {
      node->keyUnits = (at - start - form.headerSize) / form.unitSize;
      node->valueStart = Align4(at + form.unitSize);
      return QueryStatus::kFound;
    }
  }
}

uint32_t FoldAscii(uint32_t c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

bool KeyMatches(ByteView block, const Form& form, const Node& node, const char* name,
                size_t nameLength) {
  if (node.keyUnits != nameLength) return false;
  for (size_t i = 0; i < nameLength; ++i) {
    uint16_t unit = 0;
    ReadUnit(block, form, node.start + form.headerSize + uint64_t{i} * form.unitSize, &unit);
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

// The code page of a string table key of eight hexadecimal digits: its last four. 0 otherwise.
uint16_t KeyCodePage(const char* key, size_t length) {
  if (length != 8) return 0;
  uint32_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = key[i];
    const uint32_t digit = c >= '0' && c <= '9'   ? c - '0'
                           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : 16;
    if (digit == 16) return 0;
    value = value * 16 + digit;
  }
  return static_cast<uint16_t>(value);
}

// Finds the first child of `parent` whose key is `name`. A child of length 0 ends the search.
QueryStatus FindChild(ByteView block, const Form& form, const Node& parent, const char* name,
                      size_t nameLength, Node* child) {
  uint64_t at = Align4(parent.valueStart + StoredValueSize(form, parent));
  // Fewer bytes than a header at the end are padding.
  while (at < parent.end && parent.end - at >= form.headerSize) {
    const QueryStatus read = ReadNode(block, form, at, parent.end, child);
    if (read != QueryStatus::kFound) return read;
    if (KeyMatches(block, form, *child, name, nameLength)) return QueryStatus::kFound;
    at = Align4(child->end);
  }
  return QueryStatus::kAbsent;
}

}  // namespace

QueryStatus FindVersionValue(ByteView block, const char* subBlock, VersionValue* value) {
  uint8_t formByte = 0;
  if (!ReadU8(block, kKeyStart, &formByte)) return QueryStatus::kCorrupt;
  // Windows compares that byte as a signed char: 0x80 and above count as below ' '.
  const Form& form = formByte >= ' ' && formByte < 0x80 ? kForm16 : kForm32;
  Node node;
  if (ReadNode(block, form, 0, block.size, &node) != QueryStatus::kFound) {
    return QueryStatus::kCorrupt;
  }
  bool text = false;
  uint16_t codePage = 0;
  int depth = 0;
  for (const char* at = subBlock; *at != '\0';) {
    if (*at == '\\') {
      ++at;
      continue;
    }
    const char* end = at;
    while (*end != '\0' && *end != '\\') ++end;
    const size_t length = static_cast<size_t>(end - at);
    if (depth == 0) text = NameIs(at, length, "StringFileInfo");
    if (depth == 1) codePage = KeyCodePage(at, length);
    Node child;
    const QueryStatus found = FindChild(block, form, node, at, length, &child);
    if (found != QueryStatus::kFound) return found;
    node = child;
    ++depth;
    at = end;
  }

  const uint64_t valueStart = std::min(node.valueStart, node.end);
  const uint64_t available = node.end - valueStart;
  uint64_t size = std::min(StoredValueSize(form, node), available);
  if (text && form.ansi) {
    // Windows hands out the stored bytes, which are read up to their NUL whatever
    // wValueLength says; here the record's end stops them too.
    size = 0;
    uint8_t byte = 1;
    while (size < available && ReadU8(block, valueStart + size, &byte) && byte != 0) ++size;
  } else if (text) {
    // At most wValueLength units, whatever wType says, and up to the first NUL.
    const uint64_t limit = std::min<uint64_t>(node.valueLength, available / 2);
    uint64_t units = 0;
    uint16_t unit = 1;
    while (units < limit && ReadU16(block, valueStart + units * 2, &unit) && unit != 0) ++units;
    size = units * 2;
  } else if (depth == 0 && size == 0) {
    return QueryStatus::kAbsent;
  }
  value->text = text;
  value->ansi = text && form.ansi;
  value->codePage = value->ansi ? codePage : 0;
  if (!Slice(block, valueStart, size, &value->bytes)) return QueryStatus::kCorrupt;
  return QueryStatus::kFound;
}
