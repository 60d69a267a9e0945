#pragma once
// Where a suspended worm thread stands, and whether ending it there leaves no lock held. The loader
// lock is not the only one: a thread stopped inside a module's code may hold a heap, loader or socket
// lock, and ending it there can hang the service host for good. A worm thread is ended only
// - while it runs in the worm's own private code, or
// - while it waits in one of ntdll's wait system calls, entered from the worm's code: the return
//   addresses on its stack, above the call, lead through ntdll, kernel32 and kernelbase only, and then
//   into private code.
#include <windows.h>

#include <cstdint>
#include <utility>
#include <vector>

class SystemModuleFiles;

class ThreadStopPoint {
public:
    enum class Place {
        WormCode,          // its next instruction is private code
        WaitFromWormCode,  // it waits in a system call that the worm's code made
        Elsewhere,         // in a module's code, or a wait that some module made
        Unreadable,        // its context or stack cannot be read
    };

    // Learns the wait system calls of `process`'s ntdll from the system folder's file.
    ThreadStopPoint(HANDLE process, SystemModuleFiles& files);
    Place Judge(HANDLE thread) const;
    static const char* Describe(Place place);

private:
    using Range = std::pair<uintptr_t, uintptr_t>;  // [first, end)
    bool InWaitCall(uintptr_t address) const;
    // What kind of code a stack word points to: 0 none, 1 a module the wait path may pass, 2 private
    // code, 3 any other code.
    int KindOfCode(uintptr_t address) const;
    Place WalkStack(uintptr_t stackPointer) const;

    HANDLE process_;
    bool is64_ = false;
    std::vector<Range> waitCalls_;
    Range fastSystemCallReturn_ = {0, 0};  // the stub every system call of 32-bit XP to 7 returns through
};
