#pragma once
// Work that may block for minutes, given up at a bound: a share that is gone holds a file call in the
// redirector long after the user stopped waiting, and an empty card reader may too. The scan goes on
// without it and reports the drive as not checked.
#include <windows.h>

#include <functional>
#include <vector>

class BoundedWork {
public:
    enum class Outcome { Done, GivenUp, NotStarted };

    // Runs `work` on a thread of its own and waits at most `boundMs` for it. A thread given up runs on
    // to its end with its own copy of `work`, so whatever `work` writes to must be shared with it
    // (a shared_ptr), never borrowed from the caller's stack; and it keeps this module loaded until it
    // ends, so that the host unloading the plug-in never pulls its code away under it.
    static Outcome Run(std::function<void()> work, DWORD boundMs);

    // Runs every piece of work on a thread of its own, all at once, and waits at most `boundMs` for
    // all of them together: ten dead shares cost one bound, not ten. One outcome per piece, in order.
    static std::vector<Outcome> RunAll(std::vector<std::function<void()>> works, DWORD boundMs);

private:
    // Starts one piece; an invalid handle when it could not be started.
    static HANDLE Start(std::function<void()> work);
};
