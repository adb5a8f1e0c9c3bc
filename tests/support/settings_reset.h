// Puts the run-wide settings and the walk's totals back as they are at start-up.
#pragma once

#include "settings/run_settings.h"
#include "walk/walk_totals.h"

inline void ResetRunSettings() {
  gSettings = RunSettings{};
  gTotals = WalkTotals{};
}
