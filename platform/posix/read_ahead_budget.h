// What read-ahead may take from the walk: descriptors and memory, each within a bound, so that
// the walk goes as deep and as wide with read-ahead as without it. Safe on any thread.
#pragma once

#include <cstddef>

// Takes a descriptor for read-ahead where that leaves the walk room under the open-file limit;
// false otherwise, and then read-ahead does without.
bool TakeAheadDescriptor();
void ReturnAheadDescriptor();

// Descriptors read-ahead holds now.
size_t AheadDescriptors();

// Reserves `bytes` of memory for what read-ahead keeps until the walk comes (listings, version
// resources); false where that would pass the bound, and then read-ahead keeps nothing.
bool ReserveAheadBytes(size_t bytes);
void ReleaseAheadBytes(size_t bytes);

// Whether read-ahead holds so little memory that a listing begun now is likely to fit: one that
// outgrows what is left is given up, and the work of reading it is lost.
bool RoomToListAhead();

// Reads the open-file limit again: the process has set it.
void ResetAheadBudget();
