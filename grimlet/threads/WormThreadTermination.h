#pragma once
// Removal of the worm threads that the last scan found.

// Terminates every thread of the worm-thread list; true when each was opened and terminated.
bool TerminateWormThreads();
