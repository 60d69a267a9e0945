#include "app/dialog/WorkerTracker.h"

WorkerTracker::WorkerTracker() : noneRunning_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

void WorkerTracker::Started() {
    CLockGuard guard(lock_);
    if (running_++ == 0 && noneRunning_.IsValid()) ResetEvent(noneRunning_.Get());
}

void WorkerTracker::Ended() {
    CLockGuard guard(lock_);
    if (--running_ == 0 && noneRunning_.IsValid()) SetEvent(noneRunning_.Get());
}

bool WorkerTracker::WaitUntilNoneRuns(DWORD timeoutMs) const {
    if (!noneRunning_.IsValid()) return false;  // cannot tell: treat as still running
    return WaitForSingleObject(noneRunning_.Get(), timeoutMs) == WAIT_OBJECT_0;
}
