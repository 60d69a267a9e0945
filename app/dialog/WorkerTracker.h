#pragma once
#include <windows.h>

#include "platform/log/Lock.h"
#include "platform/win32/KernelHandle.h"

// Counts the detection page's worker threads, so that the program can wait - bounded - until none of
// them runs any more: a worker inside a plug-in may hold a system object changed for a moment (a
// service key taken over, a thread suspended) that only its own return puts back.
class WorkerTracker {
public:
    WorkerTracker();
    WorkerTracker(const WorkerTracker&) = delete;
    WorkerTracker& operator=(const WorkerTracker&) = delete;

    // Before a worker's thread is created; Ended() follows when the worker is done or the thread could
    // not be created.
    void Started();
    void Ended();
    // True once no worker runs; false when one still runs after `timeoutMs`.
    bool WaitUntilNoneRuns(DWORD timeoutMs) const;

private:
    CCriticalSectionLock lock_;
    int running_ = 0;
    KernelHandle noneRunning_;  // manual-reset, signalled while running_ is 0
};
