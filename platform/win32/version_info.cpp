#include "platform/version_info.h"

#include <windows.h>

#include <cstring>

struct VersionBlock {
  HGLOBAL memory = nullptr;
  void* bytes = nullptr;
};

namespace {

VersionBlock gBlock;  // one block is alive at a time

}  // namespace

VersionBlock* LoadVersionInfo(DirListing*, const std::string& path) {
  // The ANSI calls take no longer path; one cut short would read another file.
  if (path.size() >= MAX_PATH) return nullptr;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
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
  if (!GetFileVersionInfoA(path.c_str(), 0, size, bytes)) {
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
