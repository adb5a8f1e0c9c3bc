#include "platform/path_separator.h"

const char kPathSeparator = '\\';
