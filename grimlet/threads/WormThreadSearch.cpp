#include "grimlet/threads/WormThreadSearch.h"

#include <windows.h>
#include <psapi.h>

#include <memory>
#include <vector>

#include "grimlet/plugin/OutOfReachProcesses.h"
#include "grimlet/threads/ProcessInfo.h"
#include "grimlet/threads/ThreadSnapshot.h"
#include "grimlet/threads/WormThreadList.h"
#include "grimlet/threads/WormThreadProof.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletCleaner\\Process";

namespace {

constexpr DWORD kMaxProcesses = 1024;
// The search only looks: the thread's process, start, creation time and the block with its stack's
// bounds.
constexpr DWORD kThreadLookAccess = THREAD_QUERY_INFORMATION;

bool TestThreads(const ProcessInfo& process) {
    if (process.Id() == GetCurrentProcessId()) return false;
    bool found = false;
    for (const ThreadSnapshot::Entry& entry : ThreadSnapshot::Instance().Entries()) {
        if (entry.processId != process.Id()) continue;
        KernelHandle thread(OpenThread(kThreadLookAccess, FALSE, entry.threadId));
        if (!thread.IsValid()) continue;
        uintptr_t start = 0;
        uint64_t created = 0;
        if (WormThreadProof::Examine(process, thread.Get(), start) != ThreadVerdict::Worm) continue;
        // Without its creation time the removal could not tell this thread from a later one with its id.
        if (!WormThreadProof::CreationTime(thread.Get(), created)) continue;
        if (WormThreadList::Instance().Contains(entry.threadId, process.Id(), created)) continue;
        WormThreadList::Instance().Add({entry.threadId, process.Id(), start, created});
        TW_LOG(LogLevel::Detail, "WORM_GRIMLET thread found, ThreadId: [%d] ( in process [%d])\n\n",
               static_cast<int>(entry.threadId), static_cast<int>(process.Id()));
        found = true;
    }
    return found;
}

}  // namespace

int FindNewWormThreadsIn(DWORD processId) {
    if (!ThreadSnapshot::Instance().Refill()) return 0;
    ProcessInfo process(processId);
    const ModuleListing listing = process.FillModuleList();
    if (listing != ModuleListing::Complete) {
        TW_LOG(LogLevel::Detail, "Process [%d] not searched again: its module list %s", static_cast<int>(processId),
               DescribeModuleListing(listing));
        return 0;
    }
    return TestThreads(process) ? 1 : 0;
}

int FindWormThreads(const std::wstring& imageName, const std::wstring& commandFilter,
                    OutOfReachProcesses* outOfReach, const ModuleLister& lister) {
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
        // Without its whole module list every thread of the process could look foreign.
        const ModuleListing listing = process->FillModuleList(lister);
        if (listing != ModuleListing::Complete) {
            TW_LOG(LogLevel::Detail, "Process [%d] skipped: its module list %s", static_cast<int>(process->Id()),
                   DescribeModuleListing(listing));
            const std::string why = std::string("its module list ") + DescribeModuleListing(listing);
            skipped.Unchecked(L"process [" + std::to_wstring(process->Id()) + L"] " + imageName,
                              std::wstring(why.begin(), why.end()));
            continue;
        }
        if (TestThreads(*process)) found = true;
    }
    return found ? 1 : 0;
}
