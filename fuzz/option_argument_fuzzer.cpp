// Option arguments: "-" followed by the input, applied to fresh settings.
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "cli/options.h"
#include "settings/run_settings.h"
#include "support/settings_reset.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string argument = "-" + std::string(reinterpret_cast<const char*>(data), size);
  ResetRunSettings();
  ParseOptionArgument(argument.c_str());
  if (gSettings.labelMode < 0 || gSettings.labelMode > 2) abort();
  ResetRunSettings();
  return 0;
}
