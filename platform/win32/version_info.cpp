#include "platform/version_info.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/listing_names.h"
#include "platform/win32/system_path.h"
#include "platform/win32/wide_text.h"

struct VersionBlock {
  HGLOBAL memory = nullptr;
  void* bytes = nullptr;
};

namespace {

VersionBlock gBlock;  // one block is alive at a time

}  // namespace

VersionBlock* LoadVersionInfo(DirListing* listing, const std::string& path) {
  // The file is read by its real name. The block is the resource as stored, whichever call
  // fills it, and VerQueryValueA converts its strings to the ANSI code page.
  const std::wstring file =
      SystemPath(listing != nullptr ? CurrentEntryPath(listing) : WideFromAnsi(path));
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), nullptr);
  if (size == 0) return nullptr;
  // VerQueryValueA writes each string it converts into the block's spare half, and a string
  // whose stored length is 0 converts to nothing there: zeros make that an empty string.
  const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (memory == nullptr) return nullptr;
  void* bytes = GlobalLock(memory);
  if (bytes == nullptr) {
    GlobalFree(memory);
    return nullptr;
  }
  if (!GetFileVersionInfoW(file.c_str(), 0, size, bytes)) {
    GlobalUnlock(memory);
    GlobalFree(memory);
    return nullptr;
  }
  gBlock.memory = memory;
  gBlock.bytes = bytes;
  return &gBlock;
}

bool QueryVersionValue(VersionBlock* block, const char* subBlock, const void** value,
                       uint32_t* length) {
  if (block == nullptr || subBlock == nullptr) return false;
  void* found = nullptr;
  UINT foundLength = 0;
  if (!VerQueryValueA(block->bytes, subBlock, &found, &foundLength) || found == nullptr) {
    return false;
  }
  *value = found;
  // For a string VerQueryValueA counts characters, not bytes; the string ends at its NUL.
  const bool text = strncmp(subBlock, "\\StringFileInfo\\", 16) == 0;
  *length = text ? static_cast<uint32_t>(strlen(static_cast<const char*>(found))) : foundLength;
  return true;
}

void FreeVersionInfo(VersionBlock* block) {
  if (block == nullptr || block->memory == nullptr) return;
  GlobalUnlock(block->memory);
  GlobalFree(block->memory);
  block->memory = nullptr;
  block->bytes = nullptr;
}
