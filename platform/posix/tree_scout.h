// Warming a cold tree ahead of the walk. Threads of the scout's own list the directories the walk
// is about to open, take the statuses it will ask for and start reading the first bytes of its
// files, without waiting for those reads: the disk is given many requests at once, in about the
// order the walk wants them, and the read-ahead then finds them in the kernel's caches. The
// scout keeps no results, so nothing it does changes what the walk prints; it goes at most a
// fixed number of entries further than the walk has read.
#pragma once

// How many entries the scout may go through beyond those the walk has read: enough that the disk
// is never short of requests, few enough that the caches still hold what it read when the walk
// comes (a page of each file: at most 128 MiB of the kernel's, none of the process's).
constexpr long kScoutEntriesAhead = 32768;

// The walk's tree is open on `fd`, which the scout owns from now on: the tree is scouted from
// its root, once the disk is seen to be slow.
void BeginTreeScout(int fd);

// The walk is done with the tree: the scout stops, and its threads are waited for.
void EndTreeScout();

// The disk has been seen to be slow: trees are scouted, by up to `threads` threads, from now on.
void LetTreeScout(int threads);

// The walk has read, or passed over, `count` more entries of the tree. Walk's thread only.
void CountWalkedEntries(long count);
