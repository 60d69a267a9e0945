#include "grimlet/threads/ThreadSnapshot.h"

#include <tlhelp32.h>

#include "platform/win32/KernelHandle.h"

bool ThreadSnapshot::Refill() {
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot.IsValid()) return false;
    std::vector<Entry> entries;
    THREADENTRY32 thread = {};
    thread.dwSize = sizeof thread;
    for (BOOL more = Thread32First(snapshot.Get(), &thread); more; more = Thread32Next(snapshot.Get(), &thread))
        entries.push_back({thread.th32OwnerProcessID, thread.th32ThreadID});
    entries_ = std::move(entries);
    return true;
}

ThreadSnapshot& ThreadSnapshot::Instance() {
    static ThreadSnapshot instance;
    return instance;
}
