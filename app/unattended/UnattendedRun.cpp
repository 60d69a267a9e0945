#include "app/unattended/UnattendedRun.h"

#include "app/unattended/ScanReport.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"Unattended";

namespace {

constexpr int32_t kOutcomeCleaned = 1;
constexpr int32_t kOutcomeRestart = 3;
constexpr int32_t kFirstEngineOutcome = 16;  // the GRIMLET plug-in's failures: 16 + the cleanup engine's code
constexpr int32_t kEngineSignerUnchecked = 11;  // the engine never could read the DLL: nothing removed
constexpr int32_t kEngineReadOnlyMedium = 15;   // a write-protected stick: nothing changed
constexpr int32_t kEngineNoLongerProven = 16;   // a copy or task changed since the scan: nothing changed
constexpr int32_t kEngineTaskSchedulerFailed = 17;

// Why a removal failed, when the plug-in said more than "failed".
std::wstring FailureReason(int32_t pluginOutcome) {
    if (pluginOutcome == 0 || pluginOutcome == 1 || pluginOutcome == 2) return std::wstring();
    std::wstring reason = L"plug-in outcome " + std::to_wstring(pluginOutcome);
    if (pluginOutcome >= kFirstEngineOutcome)
        reason += L" (cleanup engine code " + std::to_wstring(pluginOutcome - kFirstEngineOutcome) + L")";
    // Unreadable is not untrusted: the report says that nobody learned who signed it.
    switch (pluginOutcome - kFirstEngineOutcome) {
        case kEngineSignerUnchecked: reason += L": the DLL could not be read, its signer is unknown"; break;
        case kEngineReadOnlyMedium: reason += L": File is on a read-only device"; break;
        case kEngineNoLongerProven: reason += L": it changed since the scan and was left alone"; break;
        case kEngineTaskSchedulerFailed: reason += L": the Task Scheduler would not remove it"; break;
        default: break;
    }
    return reason;
}

}  // namespace

struct UnattendedRun::WorkerStart {
    UnattendedRun* run;
    Work work;
    int exitCode;
};

int UnattendedRun::Run(Work work) {
    WorkerStart start = {this, work, kNotPrepared};
    KernelHandle worker(CreateThread(nullptr, 0, &UnattendedRun::WorkerProc, &start, 0, nullptr));
    if (!worker.IsValid()) {
        TW_LOG(LogLevel::Error, "CreateThread() Error=%d", static_cast<int>(GetLastError()));
        report_.Record(L"ERROR", {L"the scan engine could not be started (no worker thread)"});
        return kNotPrepared;
    }
    WaitForSingleObject(worker.Get(), INFINITE);
    return start.exitCode;
}

DWORD WINAPI UnattendedRun::WorkerProc(void* parameter) {
    WorkerStart* start = static_cast<WorkerStart*>(parameter);
    start->exitCode = start->run->RunHere(start->work);
    return 0;
}

int UnattendedRun::RunHere(Work work) {
    TW_LOG_SCOPE("UnattendedRun::Run()");
    if (!engine_.Initialize(this)) {
        TW_LOG(LogLevel::Error, "ScanController init failed");
        report_.Record(L"ERROR", {L"the scan engine could not be started (ScanController init failed)"});
        // As the page does with a controller whose Initialize failed.
        engine_.Deinitialize();
        return kNotPrepared;
    }
    if (!engine_.Scan()) {
        report_.Record(L"ERROR", {L"the scan could not be run (no scan manager)"});
        return kNotPrepared;
    }

    std::vector<int32_t> chosen;
    {
        CLockGuard guard(lock_);
        summary_.found = static_cast<int>(found_.size());
        for (const FoundItemRecord& item : found_) chosen.push_back(item.itemId);
        for (const FoundItemRecord& item : settings_) chosen.push_back(item.itemId);
    }
    if (work == Work::Clean && !chosen.empty()) {
        engine_.Clean(chosen);
        RecordCleanOutcomes();
    }
    return ExitCode(work, summary_);
}

int UnattendedRun::ExitCode(Work work, const Summary& summary) {
    // What could not be checked never reads as a clean bill; threats, restarts and failures say more.
    const int allClear = summary.unchecked > 0 ? kNotAllChecked : kNothingFound;
    if (summary.found == 0) return allClear;
    if (work == Work::Scan) return kThreatsFound;
    if (summary.failed > 0) return kNotAllRemoved;
    if (summary.restart > 0) return kRemovedAfterRestart;
    return summary.unchecked > 0 ? kNotAllChecked : kAllRemoved;
}

void UnattendedRun::RecordCleanOutcomes() {
    CLockGuard guard(lock_);
    for (const FoundItemRecord& item : settings_) {
        auto outcome = outcomes_.find(item.itemId);
        if (outcome != outcomes_.end() && outcome->second.outcome == kOutcomeCleaned)
            ++summary_.settingsChanged;
        else
            ++summary_.settingsFailed;
    }
    for (const FoundItemRecord& item : found_) {
        auto outcome = outcomes_.find(item.itemId);
        const int32_t code = outcome == outcomes_.end() ? 0 : outcome->second.outcome;
        const wchar_t* word = L"FAILED";  // failed, unknown, or never answered: not removed
        if (code == kOutcomeCleaned) {
            word = L"OK";
            ++summary_.removed;
        } else if (code == kOutcomeRestart) {
            word = L"RESTART";
            ++summary_.restart;
        } else {
            ++summary_.failed;
            const std::wstring reason = outcome == outcomes_.end() ? L"" : FailureReason(outcome->second.pluginOutcome);
            if (!reason.empty()) {
                TW_LOG(LogLevel::Warning, "Not removed: %S: %S", item.description.c_str(), reason.c_str());
                report_.Record(L"CLEANED", {item.description, word, reason});
                continue;
            }
        }
        report_.Record(L"CLEANED", {item.description, word});
    }
}

int UnattendedRun::OnNotify(int32_t) { return 1; }

void UnattendedRun::OnItemFound(const FoundItemRecord& found) {
    if (found.information) {
        // Not a threat: never chosen. A note (what is out of the worm's reach) changes no outcome.
        const bool note = found.threatClass == L"Note";
        if (!note) {
            CLockGuard guard(lock_);
            ++summary_.unchecked;
        }
        report_.Record(note ? L"NOTE" : L"UNCHECKED", {found.description, found.threatName});
        return;
    }
    if (found.setting) {
        // Its own record (AUTORUN) comes with the values found once the run is over.
        CLockGuard guard(lock_);
        settings_.push_back(found);
        return;
    }
    {
        CLockGuard guard(lock_);
        found_.push_back(found);
    }
    report_.Record(L"FOUND", {found.threatName, found.description});
}

int UnattendedRun::ReportCleanResult(const CleanOutcomeRecord& result) {
    TW_LOG(LogLevel::Detail, "UnattendedRun::ReportCleanResult(%d) %d (plug-in outcome %d)",
           static_cast<int>(result.itemId), static_cast<int>(result.outcome), static_cast<int>(result.pluginOutcome));
    CLockGuard guard(lock_);
    for (const std::vector<FoundItemRecord>* list : {&found_, &settings_}) {
        for (const FoundItemRecord& item : *list) {
            if (item.itemId != result.itemId) continue;
            outcomes_[result.itemId] = result;
            return 1;
        }
    }
    TW_LOG(LogLevel::Critical, "Corrupted data:Got clean result of unknown record");
    return 0;
}
