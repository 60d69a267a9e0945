#include "grimlet/threads/WormThreadSearch.h"

#include <windows.h>
#include <psapi.h>

#include <memory>
#include <vector>

#include "grimlet/plugin/OutOfReachProcesses.h"
#include "grimlet/threads/NtApi.h"
#include "grimlet/threads/ProcessInfo.h"
#include "grimlet/threads/StackImage.h"
#include "grimlet/threads/ThreadSnapshot.h"
#include "grimlet/threads/WormThreadList.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletCleaner\\Process";

namespace {

constexpr DWORD kMaxProcesses = 1024;
constexpr DWORD kThreadAllAccess = 0x1F03FF;  // the full thread access that Windows XP knows

// A thread is the worm's when the start address the system keeps for it equals the one on its stack,
// and that address lies in no module of its process.
bool IsWormThread(const ProcessInfo& process, HANDLE thread, uintptr_t& recordedStart) {
    if (!NtApi::Win32StartAddress(thread, recordedStart)) return false;
    StackWord stackStart = 0;
    if (!ReadStartFromStack(process, thread, stackStart)) return false;
    // A zero start is a refused query or an empty slot, never evidence against a thread.
    return recordedStart != 0 && recordedStart == stackStart && !process.InAnyModule(recordedStart);
}

bool TestThreads(const ProcessInfo& process) {
    if (process.Id() == GetCurrentProcessId()) return false;
    bool found = false;
    for (const ThreadSnapshot::Entry& entry : ThreadSnapshot::Instance().Entries()) {
        if (entry.processId != process.Id()) continue;
        KernelHandle thread(OpenThread(kThreadAllAccess, FALSE, entry.threadId));
        if (!thread.IsValid()) continue;
        uintptr_t start = 0;
        if (!IsWormThread(process, thread.Get(), start)) continue;
        WormThreadList::Instance().Add({entry.threadId, process.Id(), start});
        TW_LOG(LogLevel::Detail, "WORM_GRIMLET thread found, ThreadId: [%d] ( in process [%d])\n\n",
               static_cast<int>(entry.threadId), static_cast<int>(process.Id()));
        found = true;
    }
    return found;
}

}  // namespace

int FindWormThreads(const std::wstring& imageName, const std::wstring& commandFilter,
                    OutOfReachProcesses* outOfReach) {
    std::vector<DWORD> ids(kMaxProcesses);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) {
        TW_LOG(LogLevel::Detail, "EnumProcesses failed [%d]\n", static_cast<int>(GetLastError()));
        return 0;
    }
    ids.resize(bytes / sizeof(DWORD));

    std::vector<std::unique_ptr<ProcessInfo>> processes;
    for (DWORD id : ids)
        if (id != 0) processes.push_back(std::make_unique<ProcessInfo>(id));

    OutOfReachProcesses uncounted;
    OutOfReachProcesses& skipped = outOfReach ? *outOfReach : uncounted;
    bool found = false;
    for (const auto& process : processes) {
        if (skipped.PassOver(process->Id(), process->Handle())) continue;
        if (!process->Matches(imageName, commandFilter)) continue;
        // Without its module list every thread of the process would look foreign.
        if (!process->FillModuleList()) continue;
        if (TestThreads(*process)) found = true;
    }
    return found ? 1 : 0;
}
