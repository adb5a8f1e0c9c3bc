// The byte that separates the components of a path.
#pragma once

extern const char kPathSeparator;
