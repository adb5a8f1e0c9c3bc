#include "report/table_line.h"

#include <cstring>

#include "platform/console.h"
#include "platform/text_encoding.h"
#include "report/date_line.h"
#include "report/version_field_table.h"
#include "settings/run_settings.h"

namespace {

// Under the verbose flag the day that admitted an entry leads its line.
bool HasDayColumn() {
  return gSettings.verbose && gSettings.dateRange.activeMarker != 0;
}

bool EndsFieldOrLine(char c) {
  return c == '\t' || c == '\r' || c == '\n';
}

// The line being composed; kept, so that its buffer is reused from line to line.
std::string gLine;
// How many of the eight strings it has.
int gFields = 0;

}  // namespace

void AppendTableField(const char* text, size_t length, std::string* line) {
  size_t at = 0;
  while (at < length) {
    size_t width = OutputCharacterLength(text + at, length - at);
    // No double-byte character ends in a line end or a tab; a stray lead byte stands alone.
    if (width == 2 && EndsFieldOrLine(text[at + 1])) width = 1;
    const char c = text[at];
    if (width == 1 && (EndsFieldOrLine(c) || c == '\\')) {
      line->push_back('\\');
      line->push_back(c == '\t' ? 't' : c == '\r' ? 'r' : c == '\n' ? 'n' : '\\');
    } else {
      line->append(text + at, width);
    }
    at += width;
  }
}

void PrintTableHeader() {
  if (gSettings.labelMode == kNoLabels) return;
  const bool japanese = gSettings.labelMode == kJapaneseLabels;
  // Japanese as Shift_JIS bytes: "month and day", "path", "date and time", "size".
  const char* day = japanese ? LocalText("\x8c\x8e\x93\xfa") : "Day";
  const char* path = japanese ? LocalText("\x83\x70\x83\x58") : "Path";
  const char* date = japanese ? LocalText("\x93\xfa\x8e\x9e") : "Date";
  const char* size = japanese ? LocalText("\x83\x54\x83\x43\x83\x59") : "Size";
  std::string header;
  if (HasDayColumn()) header.append(day).push_back('\t');
  header.append(path).append("\t").append(date).append("\t").append(size);
  for (const VersionField& field : VersionFieldTable) {
    const char* label = field.labels[gSettings.labelMode];
    header.append("\t").append(japanese ? LocalText(label) : label);
  }
  header.push_back('\n');
  WriteOutput(header.data(), header.size());
}

void StartTableLine(const std::string& path, const FileEntry& entry) {
  gLine.clear();
  gFields = 0;
  char date[kDateAndSizeBytes];
  if (HasDayColumn()) {
    gLine.append(date, PutMonthAndDay(date, entry)).push_back('\t');
  }
  AppendTableField(path.data(), path.size(), &gLine);
  gLine.push_back('\t');
  gLine.append(date, PutDateAndSize(date, entry));
}

void AddTableField(const char* value) {
  gLine.push_back('\t');
  if (value != nullptr) AppendTableField(value, strlen(value), &gLine);
  ++gFields;
}

void EndTableLine() {
  while (gFields < kVersionFieldCount) AddTableField(nullptr);
  gLine.push_back('\n');
  WriteOutput(gLine.data(), gLine.size());
}
