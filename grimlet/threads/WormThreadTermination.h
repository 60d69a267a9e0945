#pragma once
// Removal of the worm threads that the last scan found.

// Ends every thread of the worm-thread list that still proves to be the worm's, process by process,
// and waits (bounded) for each to end. True when every listed thread has ended, including those that
// had ended before; a thread left running, for whatever reason, makes it false and is logged.
bool TerminateWormThreads();
