// Removal of the worm threads that the last scan found: one after the other at time-critical priority,
// so that the worm has no time to react.
#include "grimlet/threads/WormThreadTermination.h"

#include <windows.h>

#include "grimlet/threads/NtApi.h"
#include "grimlet/threads/WormThreadList.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

constexpr DWORD kThreadAllAccess = 0x1F03FF;  // the full thread access that Windows XP knows

// Raises the calling thread to time-critical priority for a scope and restores its priority after.
class TimeCriticalPriority {
public:
    TimeCriticalPriority() : previous_(GetThreadPriority(GetCurrentThread())) {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    }
    ~TimeCriticalPriority() {
        if (previous_ != THREAD_PRIORITY_ERROR_RETURN) SetThreadPriority(GetCurrentThread(), previous_);
    }
    TimeCriticalPriority(const TimeCriticalPriority&) = delete;
    TimeCriticalPriority& operator=(const TimeCriticalPriority&) = delete;

private:
    int previous_;
};

// Thread ids are reused: a worm thread that ended since the scan may have passed its id on to a thread
// of some other program, which must not be terminated in its place.
bool IsStillTheFoundThread(HANDLE thread, const WormThreadList::Entry& entry) {
    DWORD processId = 0;
    uintptr_t start = 0;
    return NtApi::ThreadProcessId(thread, processId) && processId == entry.processId &&
           NtApi::Win32StartAddress(thread, start) && start == entry.startAddress;
}

}  // namespace

bool TerminateWormThreads() {
    TimeCriticalPriority priority;
    bool allTerminated = true;
    for (const WormThreadList::Entry& entry : WormThreadList::Instance().Entries()) {
        const DWORD threadId = entry.threadId;
        KernelHandle thread(OpenThread(kThreadAllAccess, FALSE, threadId));
        if (!thread.IsValid()) {
            TW_LOG(LogLevel::Detail, "OpenThread fail [%d] [%d]", static_cast<int>(threadId),
                   static_cast<int>(GetLastError()));
            allTerminated = false;
            continue;
        }
        if (!IsStillTheFoundThread(thread.Get(), entry)) {
            TW_LOG(LogLevel::Detail, "Thread [%d] is no longer the one found, left running", static_cast<int>(threadId));
            allTerminated = false;
            continue;
        }
        if (TerminateThread(thread.Get(), 0)) {
            TW_LOG(LogLevel::Detail, "Terminate thread [%d] success ", static_cast<int>(threadId));
        } else {
            TW_LOG(LogLevel::Detail, "Terminate thread [%d] failed ", static_cast<int>(threadId));
            allTerminated = false;
        }
    }
    return allTerminated;
}
