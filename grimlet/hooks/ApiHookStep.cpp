#include "grimlet/hooks/ApiHookStep.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>

#include "grimlet/hooks/SuspendedProcess.h"
#include "grimlet/hooks/WormHookProof.h"
#include "grimlet/plugin/OutOfReachProcesses.h"
#include "grimlet/threads/WormThreadList.h"
#include "grimlet/threads/WormThreadSearch.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

constexpr DWORD kMaxProcesses = 1024;
constexpr DWORD kLookAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kRepairAccess =
    PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE;  // 0x438
// A thread found running in the bytes to be written is given this long to leave them, this often.
constexpr int kRepairTries = 10;
constexpr DWORD kRepairPauseMs = 20;

bool CreationTime(HANDLE process, uint64_t& time) {
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return false;
    time = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

std::vector<uintptr_t> WormStartsIn(DWORD processId) {
    std::vector<uintptr_t> starts;
    for (const WormThreadList::Entry& entry : WormThreadList::Instance().Entries())
        if (entry.processId == processId) starts.push_back(entry.startAddress);
    return starts;
}

bool IsProcess64(SystemFolder folder) { return sizeof(void*) == 8 && folder == SystemFolder::System32; }

// One process's entries, read and judged.
struct ProcessHooks {
    SystemFolder folder = SystemFolder::System32;
    std::vector<std::pair<const HookedEntry*, EntryState>> proven;
    std::vector<uint32_t> restoreLengths;
};

// Reads every table entry of `process` and keeps those that are the worm's; every other difference is
// logged with its reason.
void JudgeProcess(HANDLE process, DWORD processId, EntryReader& reader, ProcessHooks& hooks,
                  const std::vector<uint32_t>* onlyKinds) {
    if (!SystemFolderOf(process, hooks.folder)) return;
    RemoteSystemModules modules(process);
    const std::vector<uintptr_t> wormStarts = WormStartsIn(processId);
    for (const HookedEntry& entry : kHookedEntries) {
        if (onlyKinds && std::find(onlyKinds->begin(), onlyKinds->end(), entry.kind) == onlyKinds->end()) continue;
        const EntryState state = reader.Read(process, modules, hooks.folder, entry);
        if (state.outcome != EntryState::Outcome::Differs) {
            if (onlyKinds)
                TW_LOG(LogLevel::Detail, "API hook of %s in process [%d]: %s", entry.entry,
                       static_cast<int>(processId), DescribeEntryOutcome(state.outcome));
            continue;
        }
        if (wormStarts.empty()) {
            TW_LOG(LogLevel::Detail, "API hook of %s in process [%d] left alone: no worm thread runs there",
                   entry.entry, static_cast<int>(processId));
            continue;
        }
        uint32_t restoreLength = 0;
        const HookVerdict verdict =
            WormHookProof::Examine(process, state, wormStarts, IsProcess64(hooks.folder), restoreLength);
        if (verdict != HookVerdict::Worm) {
            TW_LOG(LogLevel::Detail, "API hook of %s in process [%d] left alone: %s", entry.entry,
                   static_cast<int>(processId), WormHookProof::Describe(verdict));
            continue;
        }
        hooks.proven.emplace_back(&entry, state);
        hooks.restoreLengths.push_back(restoreLength);
    }
}

}  // namespace

std::wstring KernelImagePath(HANDLE process) {
    wchar_t device[MAX_PATH * 2] = {};
    if (!GetProcessImageFileNameW(process, device, MAX_PATH * 2)) return {};
    const std::wstring path = device;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t drive[3] = {letter, L':', 0};
        wchar_t target[MAX_PATH] = {};
        if (!QueryDosDeviceW(drive, target, MAX_PATH)) continue;
        const std::wstring prefix = target;
        if (!prefix.empty() && path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
            path[prefix.size()] == L'\\')
            return std::wstring(drive) + path.substr(prefix.size());
    }
    return path;
}

ScanRecord ApiHookRecord(const HookedEntry& entry, const std::wstring& imagePath, DWORD processId) {
    // The process is named by its path without the drive.
    const std::wstring::size_type slash = imagePath.find(L'\\');
    const std::wstring shown = slash == std::wstring::npos ? imagePath : imagePath.substr(slash + 1);
    ScanRecord record;
    record.kind = entry.kind;
    record.title = L"API挂钩";
    record.detail = L"进程:[" + shown + L"] ID:[" + std::to_wstring(processId) + L"], API:[" + entry.displayName + L"]";
    record.processId = processId;
    return record;
}

std::string NormaliseImagePath(const std::string& path) {
    std::string normal = path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
    if (normal.empty() || normal[0] != '\\') return normal;
    const std::string::size_type rest = normal.find('\\', 1);
    if (rest == std::string::npos) return normal;
    const std::string reference = "%" + normal.substr(1, rest - 1) + "%" + normal.substr(rest);
    char expanded[MAX_PATH] = {};
    const DWORD length = ExpandEnvironmentStringsA(reference.c_str(), expanded, MAX_PATH);
    return length > 0 && length <= MAX_PATH ? std::string(expanded) : reference;
}

std::vector<ScanRecord> CollectApiHookRecords(OutOfReachProcesses* outOfReach) {
    std::vector<DWORD> ids(kMaxProcesses);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return {};
    ids.resize(bytes / sizeof(DWORD));

    OutOfReachProcesses uncounted;
    OutOfReachProcesses& skipped = outOfReach ? *outOfReach : uncounted;
    EntryReader reader;  // each system module file read once for the whole scan
    std::vector<ScanRecord> records;
    for (DWORD id : ids) {
        if (id == 0 || id == GetCurrentProcessId()) continue;
        KernelHandle process(OpenProcess(kLookAccess, FALSE, id));
        if (!process.IsValid() || skipped.PassOver(id, process.Get())) continue;
        ProcessHooks hooks;
        JudgeProcess(process.Get(), id, reader, hooks, nullptr);
        if (hooks.proven.empty()) continue;
        uint64_t created = 0;
        if (!CreationTime(process.Get(), created)) continue;
        const std::wstring imagePath = KernelImagePath(process.Get());
        for (const auto& hook : hooks.proven) {
            ScanRecord record = ApiHookRecord(*hook.first, imagePath, id);
            record.processCreationTime = created;
            TW_LOG(LogLevel::Detail, "API hook found: %S", record.detail.c_str());
            records.push_back(std::move(record));
        }
    }
    return records;
}

void ScanApiHooks(std::vector<ScanRecord>& results, OutOfReachProcesses& outOfReach) {
    for (ScanRecord& record : CollectApiHookRecords(&outOfReach)) results.push_back(std::move(record));
}

std::vector<bool> RepairWormHooks(const std::vector<const ScanRecord*>& records) {
    std::vector<bool> repaired(records.size(), false);
    if (records.empty()) return repaired;
    const DWORD processId = records.front()->processId;
    std::vector<uint32_t> kinds;
    for (const ScanRecord* record : records) kinds.push_back(record->kind);

    KernelHandle process(OpenProcess(kRepairAccess, FALSE, processId));
    uint64_t created = 0;
    if (!process.IsValid() || !CreationTime(process.Get(), created) ||
        created != records.front()->processCreationTime) {
        TW_LOG(LogLevel::Detail, "API hooks of process [%d] not undone: the process is no longer the one found",
               static_cast<int>(processId));
        return repaired;
    }
    EntryReader reader;
    for (int attempt = 0; attempt < kRepairTries; ++attempt) {
        SuspendedProcess held(processId);
        if (!held.Complete()) {
            TW_LOG(LogLevel::Detail, "API hooks of process [%d] not undone: its threads cannot all be suspended",
                   static_cast<int>(processId));
            break;
        }
        // Proven again while nothing in the process moves.
        ProcessHooks hooks;
        JudgeProcess(process.Get(), processId, reader, hooks, &kinds);
        bool busy = false;
        for (std::size_t i = 0; i < hooks.proven.size(); ++i)
            busy = busy || held.AnyInstructionIn(hooks.proven[i].second.address, hooks.restoreLengths[i]);
        if (busy) {
            held.Resume();
            Sleep(kRepairPauseMs);
            continue;
        }
        for (std::size_t i = 0; i < hooks.proven.size(); ++i) {
            const EntryState& state = hooks.proven[i].second;
            const bool written =
                WriteEntryBytes(process.Get(), state.address, state.file.data(), hooks.restoreLengths[i]);
            TW_LOG(LogLevel::Detail, "API hook of %s in process [%d] %s", hooks.proven[i].first->entry,
                   static_cast<int>(processId), written ? "undone" : "could not be written back");
        }
        held.Resume();
        break;
    }
    // What the entries hold now decides, whatever happened above: a hook proven before and no longer
    // there counts only when its bytes are the file's.
    SystemFolder folder;
    if (SystemFolderOf(process.Get(), folder)) {
        RemoteSystemModules modules(process.Get());
        for (std::size_t i = 0; i < records.size(); ++i) {
            const HookedEntry* entry = HookedEntryOfKind(records[i]->kind);
            repaired[i] = entry && reader.Read(process.Get(), modules, folder, *entry).outcome ==
                                       EntryState::Outcome::Clean;
            if (!repaired[i] && entry)
                TW_LOG(LogLevel::Detail, "API hook of %s in process [%d] is still there", entry->entry,
                       static_cast<int>(processId));
        }
    }
    // Worm threads that the hooks started since the scan are ended with the others.
    FindNewWormThreadsIn(processId);
    return repaired;
}

bool RepairApiHookRecord(const ScanRecord& record) { return RepairWormHooks({&record}).front(); }
