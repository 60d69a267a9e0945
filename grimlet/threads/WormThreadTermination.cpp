// Removal of the worm threads that the last scan found. The scan's verdict is not trusted as it stands:
// for each process, its listed threads are first suspended, so that no worm thread can start another
// or change what is tested, then proven again on their suspended state, and only those that still
// qualify are ended. All of it runs at time-critical priority, so that the worm has no time to react.
#include "grimlet/threads/WormThreadTermination.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "grimlet/hooks/SystemModules.h"
#include "grimlet/threads/NtApi.h"
#include "grimlet/threads/ProcessInfo.h"
#include "grimlet/threads/ThreadStopPoint.h"
#include "grimlet/threads/WormThreadList.h"
#include "grimlet/threads/WormThreadProof.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

constexpr DWORD kThreadAllAccess = 0x1F03FF;  // the full thread access that Windows XP knows
constexpr DWORD kSuspendFailed = static_cast<DWORD>(-1);
// TerminateThread only asks for the end; a thread that has not ended after this long is reported.
constexpr DWORD kEndWaitMs = 5000;
// A worm thread that stands where ending it could leave a lock held is let run this long, this often,
// until it stands in the worm's own code or waits there.
constexpr int kStopPointTries = 10;
constexpr DWORD kStopPointPauseMs = 30;

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

bool HasEnded(HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

// One listed thread on its way through the removal.
struct Target {
    const WormThreadList::Entry* entry;
    KernelHandle thread;      // opened once; every test and the termination act on this handle
    bool ended = false;       // proven gone
    bool suspended = false;   // suspended here, so resumed here unless it ended
    bool terminated = false;  // its end was asked for

    int Id() const { return static_cast<int>(entry->threadId); }
};

// The listed threads of one process.
class ProcessThreadRemoval {
public:
    ProcessThreadRemoval(DWORD processId, std::vector<Target> targets)
        : processId_(processId), targets_(std::move(targets)) {}

    // True when every listed thread of the process has ended.
    bool Run() {
        for (Target& target : targets_) Open(target);
        for (Target& target : targets_) Suspend(target);
        EndThoseThatStillQualify();
        AwaitTheirEnd();
        bool allEnded = true;
        for (Target& target : targets_) {
            if (target.suspended && !target.ended) ResumeThread(target.thread.Get());
            allEnded = allEnded && target.ended;
        }
        return allEnded;
    }

private:
    void LeaveRunning(const Target& target, const char* reason) {
        TW_LOG(LogLevel::Detail, "Thread [%d] left running: %s", target.Id(), reason);
    }

    // An id is reused only after its thread has ended: a thread that cannot be found, or whose id now
    // names a thread of another process or creation time, is the found one no longer running.
    void Open(Target& target) {
        target.thread.Attach(OpenThread(kThreadAllAccess, FALSE, target.entry->threadId));
        if (!target.thread.IsValid()) {
            const DWORD error = GetLastError();
            if (error == ERROR_INVALID_PARAMETER) {
                TW_LOG(LogLevel::Detail, "Thread [%d] has already ended", target.Id());
                target.ended = true;
            } else {
                TW_LOG(LogLevel::Detail, "OpenThread fail [%d] [%d]", target.Id(), static_cast<int>(error));
            }
            return;
        }
        DWORD owner = 0;
        uint64_t created = 0;
        if (!NtApi::ThreadProcessId(target.thread.Get(), owner) ||
            !WormThreadProof::CreationTime(target.thread.Get(), created)) {
            LeaveRunning(target, "it cannot be told from a later thread with its id");
            target.thread.Close();
            return;
        }
        if (owner != target.entry->processId || created != target.entry->creationTime ||
            HasEnded(target.thread.Get())) {
            TW_LOG(LogLevel::Detail, "Thread [%d] has already ended", target.Id());
            target.ended = true;
            target.thread.Close();
        }
    }

    void Suspend(Target& target) {
        if (!target.thread.IsValid()) return;
        if (SuspendThread(target.thread.Get()) != kSuspendFailed) {
            target.suspended = true;
        } else if (HasEnded(target.thread.Get())) {
            target.ended = true;
        } else {
            LeaveRunning(target, "it cannot be suspended");
        }
    }

    void EndThoseThatStillQualify() {
        if (std::none_of(targets_.begin(), targets_.end(), [](const Target& target) { return target.suspended; }))
            return;
        ProcessInfo process(processId_, ProcessInfo::HandleOnly());
        // Read while the listed threads stand still: modules and the loader lock as they are now.
        const ModuleListing listing = process.FillModuleList();
        DWORD lockOwner = 0;
        const bool lockRead = ReadLoaderLockOwner(process.Handle(), lockOwner);
        SystemModuleFiles files;
        const ThreadStopPoint stopPoint(process.Handle(), files);
        for (Target& target : targets_) {
            if (!target.suspended) continue;
            if (listing != ModuleListing::Complete) {
                TW_LOG(LogLevel::Detail, "Thread [%d] left running: the module list of its process %s", target.Id(),
                       DescribeModuleListing(listing));
                continue;
            }
            uintptr_t start = 0;
            const ThreadVerdict verdict = WormThreadProof::Examine(process, target.thread.Get(), start);
            if (verdict != ThreadVerdict::Worm) {
                LeaveRunning(target, WormThreadProof::Describe(verdict));
            } else if (start != target.entry->startAddress) {
                LeaveRunning(target, "its start address is not the one found");
            } else if (!lockRead) {
                LeaveRunning(target, "the loader lock of its process cannot be read");
            } else if (lockOwner == target.entry->threadId) {
                // Ending the owner would leave the lock held for good, and every later thread start or
                // module load of the service host would hang on it.
                LeaveRunning(target, "it holds the loader lock of its process");
            } else if (!StandsWhereItMayEnd(process, stopPoint, target)) {
                continue;
            } else if (TerminateThread(target.thread.Get(), 0)) {
                TW_LOG(LogLevel::Detail, "Terminate thread [%d] success ", target.Id());
                target.terminated = true;
            } else {
                TW_LOG(LogLevel::Detail, "Terminate thread [%d] failed ", target.Id());
            }
        }
    }

    // True when the suspended thread stands where ending it leaves no lock held; otherwise it is let
    // run briefly and looked at again, a bounded number of times, and then left running.
    bool StandsWhereItMayEnd(const ProcessInfo& process, const ThreadStopPoint& stopPoint, Target& target) {
        ThreadStopPoint::Place place = stopPoint.Judge(target.thread.Get());
        for (int attempt = 1; attempt < kStopPointTries && place != ThreadStopPoint::Place::WormCode &&
                              place != ThreadStopPoint::Place::WaitFromWormCode;
             ++attempt) {
            ResumeThread(target.thread.Get());
            Sleep(kStopPointPauseMs);
            if (SuspendThread(target.thread.Get()) == kSuspendFailed) {
                target.suspended = false;
                target.ended = HasEnded(target.thread.Get());
                if (!target.ended) LeaveRunning(target, "it cannot be suspended again");
                return false;
            }
            // While it ran it may have taken the loader lock.
            DWORD lockOwner = 0;
            if (!ReadLoaderLockOwner(process.Handle(), lockOwner) || lockOwner == target.entry->threadId) {
                place = ThreadStopPoint::Place::Elsewhere;
                continue;
            }
            place = stopPoint.Judge(target.thread.Get());
        }
        if (place == ThreadStopPoint::Place::WormCode || place == ThreadStopPoint::Place::WaitFromWormCode) return true;
        LeaveRunning(target, ThreadStopPoint::Describe(place));
        return false;
    }

    void AwaitTheirEnd() {
        const DWORD start = GetTickCount();
        for (Target& target : targets_) {
            if (!target.terminated) continue;
            const DWORD elapsed = GetTickCount() - start;
            const DWORD remaining = elapsed < kEndWaitMs ? kEndWaitMs - elapsed : 0;
            target.ended = WaitForSingleObject(target.thread.Get(), remaining) == WAIT_OBJECT_0;
            if (!target.ended)
                TW_LOG(LogLevel::Detail, "Thread [%d] did not end within %u ms", target.Id(),
                       static_cast<unsigned>(kEndWaitMs));
        }
    }

    DWORD processId_;
    std::vector<Target> targets_;
};

}  // namespace

bool TerminateWormThreads() {
    TimeCriticalPriority priority;
    const std::vector<WormThreadList::Entry>& entries = WormThreadList::Instance().Entries();
    std::vector<DWORD> processes;  // in the order first found
    for (const WormThreadList::Entry& entry : entries)
        if (std::find(processes.begin(), processes.end(), entry.processId) == processes.end())
            processes.push_back(entry.processId);
    bool allEnded = true;
    for (DWORD processId : processes) {
        std::vector<Target> targets;
        for (const WormThreadList::Entry& entry : entries)
            if (entry.processId == processId) targets.push_back(Target{&entry, KernelHandle()});
        if (!ProcessThreadRemoval(processId, std::move(targets)).Run()) allEnded = false;
    }
    return allEnded;
}
