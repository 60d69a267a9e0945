#pragma once
// Removal of the worm threads that the last scan found.

// Terminates every thread of the worm-thread list, one after the other at time-critical priority so
// that the worm has no time to react. True when each was opened and terminated (also for an empty list).
bool TerminateWormThreads();
