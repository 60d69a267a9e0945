#include "grimlet/threads/ThreadSnapshot.h"

#include <tlhelp32.h>

#include "platform/win32/KernelHandle.h"

bool ThreadSnapshot::Refill() {
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot.IsValid()) return false;
    std::vector<Entry> entries;
    THREADENTRY32 thread = {};
    thread.dwSize = sizeof thread;
    // Every snapshot holds at least the thread that took it: an empty one is a failed one.
    if (!Thread32First(snapshot.Get(), &thread)) return false;
    do {
        entries.push_back({thread.th32OwnerProcessID, thread.th32ThreadID});
    } while (Thread32Next(snapshot.Get(), &thread));
    entries_ = std::move(entries);
    return true;
}

ThreadSnapshot& ThreadSnapshot::Instance() {
    static ThreadSnapshot instance;
    return instance;
}
