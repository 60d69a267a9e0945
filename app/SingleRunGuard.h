#pragma once
#include "platform/win32/KernelHandle.h"

// One Tidewash run at a time on this machine, in every session: a dialog, a dialog still finishing after
// it was closed while busy, an unattended run. The first run holds a named mutex until its process ends;
// a later start sees it and must touch nothing (work folder, plug-in, quarantine) of the first.
//
// Only Administrators and SYSTEM may open the mutex. A name that someone else holds (or that cannot be
// made) counts as a run in progress: the worst a stranger can do with it is keep Tidewash from starting,
// which it then says.
class SingleRunGuard {
public:
    SingleRunGuard();
    SingleRunGuard(const SingleRunGuard&) = delete;
    SingleRunGuard& operator=(const SingleRunGuard&) = delete;

    bool IsOnlyRun() const { return onlyRun_; }

    // The mutex's name; tests hold it to play the first run.
    static const wchar_t kName[];

private:
    KernelHandle mutex_;
    bool onlyRun_ = false;
};
