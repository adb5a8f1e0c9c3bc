#include "cli/options.h"

#include "datefilter/date_filter.h"
#include "platform/calendar.h"
#include "platform/path_separator.h"
#include "settings/run_settings.h"

void ParseOptionArgument(const char* argument) {
  for (const char* letter = argument + 1; *letter != '\0'; ++letter) {
    switch (*letter) {
      case '0':
      case '1':
      case '2':
        gSettings.labelMode = static_cast<LabelMode>(*letter - '0');
        break;
      case 'D':
      case 'd':
        // The rest of the argument is the date text.
        ParseDateSpec(letter + 1, CurrentTime());
        return;
      case 'N':
      case 'n':
        gSettings.suppressUnversioned = true;
        break;
      case 'S':
      case 's':
        gSettings.recurse = true;
        break;
      case 'T':
      case 't':
        gSettings.table = true;
        break;
      case 'V':
      case 'v':
        gSettings.verbose = true;
        break;
      default:
        break;  // unknown letters are ignored
    }
  }
}

void AppendSeparator(std::string* path) {
  if (path->empty() || path->back() != kPathSeparator) path->push_back(kPathSeparator);
}
