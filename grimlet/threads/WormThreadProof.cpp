#include "grimlet/threads/WormThreadProof.h"

#include "grimlet/threads/NtApi.h"
#include "grimlet/threads/ProcessInfo.h"
#include "grimlet/threads/StackImage.h"

ThreadVerdict WormThreadProof::Examine(const ProcessInfo& process, HANDLE thread, uintptr_t& start) {
    start = 0;
    DWORD owner = 0;
    if (!NtApi::ThreadProcessId(thread, owner) || owner != process.Id()) return ThreadVerdict::OtherOwner;
    // A zero start is a refused query or an empty slot, never evidence against a thread.
    if (!NtApi::Win32StartAddress(thread, start) || start == 0) return ThreadVerdict::NoStart;
    if (process.InAnyModule(start)) return ThreadVerdict::InModule;
    if (!IsPrivateCode(process.Handle(), start)) return ThreadVerdict::NotPrivateCode;
    // The stack last: it is the one test that reads more than a few words.
    if (!StackShowsStart(process, thread, start)) return ThreadVerdict::StackDisagrees;
    return ThreadVerdict::Worm;
}

const char* WormThreadProof::Describe(ThreadVerdict verdict) {
    switch (verdict) {
        case ThreadVerdict::Worm: return "a worm thread";
        case ThreadVerdict::OtherOwner: return "it belongs to another process";
        case ThreadVerdict::NoStart: return "its start address cannot be read";
        case ThreadVerdict::StackDisagrees: return "its stack does not show its start address";
        case ThreadVerdict::InModule: return "it starts in a module of its process";
        case ThreadVerdict::NotPrivateCode: return "it does not start in private executable memory";
    }
    return "unknown";
}

bool WormThreadProof::IsPrivateCode(HANDLE process, uintptr_t address) {
    MEMORY_BASIC_INFORMATION memory = {};
    if (VirtualQueryEx(process, reinterpret_cast<LPCVOID>(address), &memory, sizeof memory) != sizeof memory)
        return false;
    const DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return memory.State == MEM_COMMIT && memory.Type == MEM_PRIVATE && (memory.Protect & executable) != 0 &&
           (memory.Protect & PAGE_GUARD) == 0;
}

bool WormThreadProof::CreationTime(HANDLE thread, uint64_t& time) {
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return false;
    time = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}
