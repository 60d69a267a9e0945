#pragma once
// What makes a thread the worm's. It is tested at scan, and again on the suspended thread just before
// the removal ends it, so that a thread is only ever ended on evidence that holds at that moment:
// - it belongs to the process being searched;
// - the start address the system keeps for it is the one its stack shows;
// - that address lies in no module of the process (whose module list must be complete);
// - and it lies in committed, executable memory that the process allocated for itself. Code in an
//   image or file view outside the loader's list is what security products and hand loaders use; the
//   worm's code is never there.
#include <windows.h>

#include <cstdint>

class ProcessInfo;

enum class ThreadVerdict {
    Worm,
    OtherOwner,      // the thread belongs to another process
    NoStart,         // the system does not say where it started
    StackDisagrees,  // its stack does not show that start, or cannot be read
    InModule,        // it started in a module of the process
    NotPrivateCode,  // it started in an image or file view, or in memory that is not executable code
};

class WormThreadProof {
public:
    // Tests `thread` as a thread of `process`; `start` is the start address the system keeps for it.
    static ThreadVerdict Examine(const ProcessInfo& process, HANDLE thread, uintptr_t& start);
    static const char* Describe(ThreadVerdict verdict);

    // True when `address` lies in committed, executable, private memory of `process`.
    static bool IsPrivateCode(HANDLE process, uintptr_t address);
    // The thread's creation time, which together with its id and its process names one thread for good:
    // an id is reused only after its thread has ended.
    static bool CreationTime(HANDLE thread, uint64_t& time);
};
