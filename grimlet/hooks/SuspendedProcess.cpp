#include "grimlet/hooks/SuspendedProcess.h"

#include <tlhelp32.h>

#include <algorithm>

namespace {

constexpr int kMaxSnapshots = 4;
constexpr DWORD kSuspendFailed = static_cast<DWORD>(-1);
constexpr DWORD kHoldAccess = THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION;

}  // namespace

SuspendedProcess::SuspendedProcess(DWORD processId) {
    if (processId == GetCurrentProcessId()) return;
    for (int round = 0; round < kMaxSnapshots; ++round) {
        bool sawNew = false;
        if (!SuspendListed(processId, sawNew)) return;
        if (!sawNew) {
            complete_ = !held_.empty();
            return;
        }
    }
}

bool SuspendedProcess::SuspendListed(DWORD processId, bool& sawNew) {
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot.IsValid()) return false;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    if (!Thread32First(snapshot.Get(), &entry)) return false;
    do {
        if (entry.th32OwnerProcessID != processId) continue;
        const DWORD id = entry.th32ThreadID;
        if (std::any_of(held_.begin(), held_.end(), [id](const Held& held) { return held.id == id; })) continue;
        KernelHandle thread(OpenThread(kHoldAccess, FALSE, id));
        if (!thread.IsValid()) {
            // A thread that ended since the snapshot is no thread to hold; any other is one we cannot.
            if (GetLastError() == ERROR_INVALID_PARAMETER) continue;
            return false;
        }
        if (SuspendThread(thread.Get()) == kSuspendFailed) {
            if (WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0) continue;
            return false;
        }
        sawNew = true;
        held_.push_back({id, std::move(thread)});
    } while (Thread32Next(snapshot.Get(), &entry));
    return true;
}

bool SuspendedProcess::AnyInstructionIn(uintptr_t address, uint32_t count) const {
    for (const Held& held : held_) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        if (!GetThreadContext(held.thread.Get(), &context)) return true;
#ifdef _WIN64
        const uintptr_t next = static_cast<uintptr_t>(context.Rip);
#else
        const uintptr_t next = static_cast<uintptr_t>(context.Eip);
#endif
        if (next >= address && next - address < count) return true;
    }
    return false;
}

void SuspendedProcess::Resume() {
    for (Held& held : held_) ResumeThread(held.thread.Get());
    held_.clear();
    complete_ = false;
}
