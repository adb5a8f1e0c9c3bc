#include "support/target.h"

bool TargetIsWin32() { return false; }

std::string TargetPath(const std::string& hostPath) { return hostPath; }
