#pragma once
// Every thread of another process held still for the moment of a repair, and resumed on every path.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/win32/KernelHandle.h"

class SuspendedProcess {
public:
    // Suspends every thread of `processId` that a fresh snapshot lists, taking snapshots until one
    // shows no thread that is not suspended yet (threads may start while the first ones are held).
    explicit SuspendedProcess(DWORD processId);
    ~SuspendedProcess() { Resume(); }
    SuspendedProcess(const SuspendedProcess&) = delete;
    SuspendedProcess& operator=(const SuspendedProcess&) = delete;

    // True when every thread of the process is held: only then may its code be written.
    bool Complete() const { return complete_; }
    // True when a held thread's next instruction lies in [address, address + count), or a thread's
    // context cannot be read (then nobody can tell).
    bool AnyInstructionIn(uintptr_t address, uint32_t count) const;
    void Resume();

private:
    struct Held {
        DWORD id;
        KernelHandle thread;
    };
    bool SuspendListed(DWORD processId, bool& sawNew);

    std::vector<Held> held_;
    bool complete_ = false;
};
