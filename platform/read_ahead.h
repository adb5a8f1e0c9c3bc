// How far the platform may read ahead of the walk.
#pragma once

// The most threads that fetch entries ahead of the walk; 0, the number at start, reads every
// entry when the walk reaches it. Set before a walk starts; the output is the same
// whatever the number. The Win32 build does not read ahead and has no such number.
void SetReadAheadThreads(int count);
