#include "report/report_entry.h"

#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/text_encoding.h"
#include "report/date_line.h"
#include "report/table_line.h"
#include "report/version_field_table.h"
#include "settings/run_settings.h"

namespace {

// The label of each field in the run's label mode, in the output's charset.
const char* gFieldLabels[kVersionFieldCount];

}  // namespace

void ChooseFieldLabels() {
  for (int field = 0; field < kVersionFieldCount; ++field) {
    const char* stored = VersionFieldTable[field].labels[gSettings.labelMode];
    gFieldLabels[field] = gSettings.labelMode == kJapaneseLabels ? LocalText(stored) : stored;
  }
}

bool ReportFile(DirListing* listing, const std::string& path, const FileEntry& entry) {
  VersionBlock* block = LoadVersionInfo(listing, path);
  if (block == nullptr) {
    if (gSettings.suppressUnversioned) return false;
    if (gSettings.table) {
      StartTableLine(path, entry);
      EndTableLine();
    } else {
      PrintPathAndDateLine(path, entry);
    }
    return false;
  }
  const void* value = nullptr;
  uint32_t length = 0;
  // Without a translation there is no string table to look in, and nothing is shown.
  if (QueryVersionValue(block, "\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
    const auto* pair = static_cast<const unsigned char*>(value);
    const unsigned language = pair[0] | (pair[1] << 8);
    const unsigned codePage = pair[2] | (pair[3] << 8);
    if (gSettings.table) {
      StartTableLine(path, entry);
    } else {
      PrintPathAndDateLine(path, entry);
    }
    char subBlock[64];
    const int prefix =
        snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\", language, codePage);
    for (int field = 0; field < kVersionFieldCount; ++field) {
      const char* key = VersionFieldTable[field].labels[0];
      memcpy(subBlock + prefix, key, strlen(key) + 1);
      if (!gSettings.table) {
        PrintVersionField(gFieldLabels[field], subBlock, block);
      } else {
        const bool found = QueryVersionValue(block, subBlock, &value, &length);
        AddTableField(found ? static_cast<const char*>(value) : nullptr);
      }
    }
    if (gSettings.table) {
      EndTableLine();
    } else {
      WriteOutput("\n", 1);
    }
  }
  FreeVersionInfo(block);
  return true;
}

bool PrintVersionField(const char* label, const char* subBlock, VersionBlock* block) {
  const void* value = nullptr;
  uint32_t length = 0;
  if (!QueryVersionValue(block, subBlock, &value, &length)) return false;
  WriteOutput(label, strlen(label));
  if (*label != '\0') WriteOutput(": ", 2);
  WriteOutput(static_cast<const char*>(value), strlen(static_cast<const char*>(value)));
  WriteOutput("\n", 1);
  return true;
}
