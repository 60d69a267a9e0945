#include "grimlet/plugin/PluginGeneralImpl.h"

#include <wchar.h>

#include <algorithm>

#include "grimlet/common/EnablePrivilege.h"
#include "grimlet/plugin/AutoRunStep.h"
#include "grimlet/hooks/ApiHookStep.h"
#include "grimlet/plugin/CleanRecord.h"
#include "grimlet/plugin/DriveCopyStep.h"
#include "grimlet/plugin/ProvenWormDlls.h"
#include "grimlet/plugin/WormTaskStep.h"
#include "grimlet/tasks/TaskFileLookup.h"
#include "grimlet/plugin/PluginState.h"
#include "grimlet/services/WormServiceStep.h"
#include "grimlet/threads/StackCalibration.h"
#include "grimlet/threads/WormThreadStep.h"
#include "platform/log/Logger.h"
#include "platform/system/OsVersion.h"

static const wchar_t kLogSource[] = L"PluginGeneralImpl";

constexpr wchar_t PluginGeneralImpl::kName[];
constexpr wchar_t PluginGeneralImpl::kThreatClass[];
constexpr wchar_t PluginGeneralImpl::kUncheckedClass[];
constexpr wchar_t PluginGeneralImpl::kNoteClass[];
constexpr wchar_t PluginGeneralImpl::kSettingClass[];

PluginSteps PluginSteps::Product() {
    PluginSteps steps;
    steps.enablePrivilege = &EnablePrivilege;
    steps.setUpOsInfo = &SetUpOsInfo;
    steps.scanWormServices = &ScanWormServices;
    steps.scanWormThreads = &ScanWormThreads;
    steps.scanApiHooks = &ScanApiHooks;
    steps.cleanRecord = &CleanRecord;
    steps.repairHooks = &RepairWormHooks;
    steps.scanAutoRun = &ScanAutoRun;
    steps.proveWormDlls = [](const std::vector<ScanRecord>& results) {
        TaskFileLookup lookup;
        return ProveWormDlls(results, lookup);
    };
    steps.scanDriveCopies = &ScanDriveCopies;
    steps.scanWormTasks = &ScanWormTasks;
    return steps;
}

PluginGeneralImpl* PluginGeneralImpl::Get() {
    PluginState& state = PluginState::Instance();
    if (!state.handler) state.handler = new PluginGeneralImpl(PluginSteps::Product());
    return state.handler;
}

int PluginGeneralImpl::GetId() { return PluginState::Instance().pluginId; }

int PluginGeneralImpl::QueryInterface(const wchar_t* name, void** out) {
    if (!out) return 0;
    if (name && _wcsicmp(name, kInterfacePluginGeneralHandler) == 0) {
        InterlockedIncrement(&PluginState::Instance().referenceCount);
        *out = static_cast<IPluginGeneralHandler*>(this);
        return 1;
    }
    *out = nullptr;
    return 0;
}

void PluginGeneralImpl::Release() {
    PluginState& state = PluginState::Instance();
    if (state.referenceCount <= 0) return;  // a surplus Release must not destroy twice
    if (InterlockedDecrement(&state.referenceCount) != 0) return;
    // Forget the handler as it goes, so that a later factory call makes a new one instead of using
    // a destroyed one.
    if (state.handler == this) state.handler = nullptr;
    delete this;
}

int PluginGeneralImpl::Initialize() {
    TW_LOG_SCOPE("PluginGeneralImpl::Initialize()");
    // The same words as the OS line of the host's unattended report, so that the two can be matched.
    TW_LOG(LogLevel::Info, "System: %S", DescribeRunningSystem().c_str());
    // A privilege that cannot be enabled only makes some processes and keys unreachable later.
    steps_.enablePrivilege(L"SeDebugPrivilege");
    steps_.enablePrivilege(L"SeTakeOwnershipPrivilege");
    steps_.setUpOsInfo();
    return 1;
}

void PluginGeneralImpl::Scan() {
    TW_LOG_SCOPE("PluginGeneralImpl::Scan()");
    PluginState& state = PluginState::Instance();
    std::vector<ScanRecord>& results = state.results;
    results.clear();
    steps_.scanWormServices(results);
    OutOfReachProcesses outOfReach;
    steps_.scanWormThreads(results, outOfReach);
    steps_.scanApiHooks(results, outOfReach);
    if (steps_.proveWormDlls) {
        const std::vector<ProvenWormDll> proven = steps_.proveWormDlls(results);
        if (steps_.scanDriveCopies) steps_.scanDriveCopies(Sha1sOf(proven), results);
        if (steps_.scanWormTasks) steps_.scanWormTasks(proven, results);
    }
    TW_LOG(LogLevel::Detail, "Skipped %d 64-bit processes that a 32-bit plug-in cannot examine",
           static_cast<int>(outOfReach.Count()));
    for (const auto& gap : outOfReach.Unchecked())
        results.push_back(InformationRecord(kScanRecordUnchecked, gap.first, gap.second));
    // A 32-bit worm cannot live in a 64-bit host: not a gap in the search, but said once.
    if (outOfReach.Count() != 0)
        results.push_back(InformationRecord(kScanRecordNote, L"64-bit processes",
                                            L"not searched: a 32-bit worm cannot run in them (" +
                                                std::to_wstring(outOfReach.Count()) + L" passed over)"));
    if (steps_.scanAutoRun) steps_.scanAutoRun(results);

    for (std::size_t i = 0; i < results.size(); ++i) {
        const int id = static_cast<int>(i);
        const uint32_t kind = results[i].kind;
        const bool information = kind == kScanRecordUnchecked || kind == kScanRecordNote;
        const wchar_t* threatClass = information ? (kind == kScanRecordNote ? kNoteClass : kUncheckedClass)
                                                 : (kind == kScanRecordAutoRun ? kSettingClass : kThreatClass);
        PluginFoundImpl found(id, results[i].detail, threatClass, results[i].title,
                              information ? kInformationFeedBackType : 0);
        found_.emplace(id, found);  // an id reported by an earlier scan keeps its first entry
        if (reporter_) reporter_->ReportFound(state.pluginId, &found);
    }
}

std::vector<std::vector<int>> PluginGeneralImpl::RemovalOrder(const int* foundIds, unsigned int count) {
    const std::vector<ScanRecord>& results = PluginState::Instance().results;
    std::vector<std::vector<int>> hookGroups;  // one per process, in the order first chosen
    std::vector<uint32_t> groupProcesses;
    std::vector<std::vector<int>> threads;
    std::vector<std::vector<int>> doors;  // copies and tasks
    std::vector<std::vector<int>> rest;
    for (unsigned int k = 0; k < count; ++k) {
        const int id = foundIds[k];
        auto entry = found_.find(id);
        const int index = entry == found_.end() ? -1 : entry->second.GetId();
        const bool hook = index >= 0 && static_cast<std::size_t>(index) < results.size() &&
                          results[index].kind >= kScanRecordApiHookFirst && results[index].kind <= kScanRecordApiHookLast;
        if (!hook) {
            const uint32_t kind = index >= 0 && static_cast<std::size_t>(index) < results.size() ? results[index].kind : 0;
            const bool door = kind == kScanRecordDriveCopy || kind == kScanRecordWormTask;
            (kind == kScanRecordWormThreads ? threads : door ? doors : rest).push_back({id});
            continue;
        }
        const uint32_t process = results[index].processId;
        auto group = std::find(groupProcesses.begin(), groupProcesses.end(), process);
        if (group == groupProcesses.end()) {
            groupProcesses.push_back(process);
            hookGroups.push_back({id});
        } else {
            hookGroups[group - groupProcesses.begin()].push_back(id);
        }
    }
    hookGroups.insert(hookGroups.end(), threads.begin(), threads.end());
    hookGroups.insert(hookGroups.end(), doors.begin(), doors.end());
    hookGroups.insert(hookGroups.end(), rest.begin(), rest.end());
    return hookGroups;
}

void PluginGeneralImpl::Report(int id, int outcome) {
    auto entry = found_.find(id);
    if (entry == found_.end() || !reporter_) return;
    reporter_->ReportCleanResult(PluginState::Instance().pluginId, &entry->second, outcome);
}

void PluginGeneralImpl::Clean(const int* foundIds, unsigned int count) {
    if (!foundIds) return;
    PluginState& state = PluginState::Instance();
    for (const std::vector<int>& group : RemovalOrder(foundIds, count)) {
        for (int id : group) TW_LOG(LogLevel::Detail, "PluginGeneralImpl::Clean(%d)", id);
        std::vector<int> known;
        std::vector<const ScanRecord*> records;
        for (int id : group) {
            auto entry = found_.find(id);
            if (entry == found_.end()) continue;
            const int index = entry->second.GetId();
            known.push_back(id);
            records.push_back(index >= 0 && static_cast<std::size_t>(index) < state.results.size()
                                  ? &state.results[index]
                                  : nullptr);
        }
        const bool hookGroup = !records.empty() && records.front() &&
                               records.front()->kind >= kScanRecordApiHookFirst &&
                               records.front()->kind <= kScanRecordApiHookLast;
        if (hookGroup && steps_.repairHooks) {
            const std::vector<bool> repaired = steps_.repairHooks(records);
            for (std::size_t i = 0; i < known.size(); ++i)
                Report(known[i], i < repaired.size() && repaired[i] ? kPluginCleanDone : kPluginCleanFailed);
            continue;
        }
        for (std::size_t i = 0; i < known.size(); ++i) {
            const int index = found_.find(known[i])->second.GetId();
            Report(known[i], index >= 0 ? steps_.cleanRecord(state.results, static_cast<uint32_t>(index))
                                        : kPluginCleanFailed);
        }
    }
}
