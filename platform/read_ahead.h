// How far the platform may read ahead of the walk.
#pragma once

// The number of threads that fetch entries ahead of the walk; 0 reads every entry when the
// walk reaches it. Set before a walk starts; the output is the same whatever the number.
void SetReadAheadThreads(int count);
