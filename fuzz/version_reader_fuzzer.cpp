// The version reader over whole file images (PE and NE, with version blocks in either form): the
// resource read, then the queries the report makes, with each string converted as it would be
// printed.
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fixtures/memory_source.h"
#include "image/byte_view.h"
#include "image/pe_image.h"
#include "image/version_resource.h"
#include "platform/posix/output_charset.h"
#include "report/version_field_table.h"

namespace {

// Kept from one input to the next, as the walk keeps them from one file to the next.
ImageBuffers gBuffers;
std::vector<uint8_t> gResource;
// Never destroyed, so that the converters stay reachable to the leak check at exit.
std::set<unsigned>& gPinnedCodePages = *new std::set<unsigned>;
std::vector<iconv_t>& gPinned = *new std::vector<iconv_t>;

void Check(bool holds) {
  if (!holds) abort();
}

bool IsWellFormedUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80                   ? 1
                          : lead >= 0xC2 && lead < 0xE0 ? 2
                          : lead >= 0xE0 && lead < 0xF0 ? 3
                          : lead >= 0xF0 && lead < 0xF5 ? 4
                                                        : 0;
    if (length == 0 || text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// A value found must lie within its block; a text value is whole units without a NUL.
void CheckValue(ByteView block, const VersionValue& value) {
  Check(value.text || !value.ansi);
  if (value.bytes.size == 0) return;
  Check(value.bytes.data >= block.data &&
        value.bytes.size <= block.size - static_cast<size_t>(value.bytes.data - block.data));
  if (!value.text) return;
  if (value.ansi) {
    Check(memchr(value.bytes.data, 0, value.bytes.size) == nullptr);
    return;
  }
  Check(value.bytes.size % 2 == 0);
  for (size_t i = 0; i < value.bytes.size; i += 2) {
    Check(value.bytes.data[i] != 0 || value.bytes.data[i + 1] != 0);
  }
}

// Keeps iconv's modules for the code page `codePage` loaded for good: the charset switches below
// close the program's converters, and unloading and loading a module again for every input
// takes long enough to pass for a hang.
void PinCodePage(unsigned codePage) {
  if (!gPinnedCodePages.insert(codePage).second) return;
  const std::string name = "CP" + std::to_string(codePage);
  for (const char* to : {"UTF-8", "SHIFT_JIS"}) gPinned.push_back(iconv_open(to, name.c_str()));
}

// A string as the report prints it: from UTF-16, or from the code page of a 16-bit block.
std::string Converted(const VersionValue& value) {
  std::string text;
  if (value.ansi) {
    PinCodePage(value.codePage);
    AppendCodePageInOutputCharset(value.bytes.data, value.bytes.size, value.codePage, &text);
  } else {
    AppendUtf16InOutputCharset(value.bytes.data, value.bytes.size / 2, &text);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (unsigned codePage : {0u, 932u, 1252u}) PinCodePage(codePage);
  gPinned.push_back(iconv_open("SHIFT_JIS", "UTF-8"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView file{data, size};
  const FileSource source{&file, ReadFromMemory};
  const ResourceStatus status = ReadVersionResource(source, &gBuffers, &gResource);
  if (status != ResourceStatus::kFound) {
    Check(gResource.empty());
    return 0;
  }
  Check(!gResource.empty() && gResource.size() <= kMaxVersionResourceSize);

  // An allocation of the exact size, so that any read past the resource is caught.
  const std::unique_ptr<uint8_t[]> exact(new uint8_t[gResource.size()]);
  memcpy(exact.get(), gResource.data(), gResource.size());
  const ByteView block{exact.get(), gResource.size()};

  VersionValue value;
  if (FindVersionValue(block, "", &value) == QueryStatus::kCorrupt) return 0;
  CheckValue(block, value);
  if (FindVersionValue(block, "\\VarFileInfo\\Translation", &value) != QueryStatus::kFound) {
    return 0;
  }
  CheckValue(block, value);
  if (value.bytes.size < 4) return 0;
  const uint8_t* pair = value.bytes.data;
  const unsigned language = pair[0] | (pair[1] << 8);
  const unsigned codePage = pair[2] | (pair[3] << 8);

  std::vector<VersionValue> strings;
  for (const VersionField& field : VersionFieldTable) {
    char subBlock[64];
    snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\%s", language, codePage,
             field.labels[0]);
    if (FindVersionValue(block, subBlock, &value) != QueryStatus::kFound) continue;
    Check(value.text && (!value.ansi || value.codePage == codePage));
    CheckValue(block, value);
    const std::string text = Converted(value);
    Check(IsWellFormedUtf8(text) && text.find('\0') == std::string::npos);
    strings.push_back(value);
  }
  if (strings.empty()) return 0;
  // Again into a charset that lacks most characters, through iconv.
  SelectOutputCharset("SHIFT_JIS");
  for (const VersionValue& string : strings) Converted(string);
  SelectOutputCharset("UTF-8");
  return 0;
}
