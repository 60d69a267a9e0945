#include "grimlet/hooks/ApiHookStep.h"

#include <windows.h>
#include <psapi.h>

#include "grimlet/hooks/ApiHookCheck.h"
#include "grimlet/plugin/OutOfReachProcesses.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

constexpr DWORD kMaxProcesses = 1024;
constexpr DWORD kHookAccess =
    PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE;  // 0x438

std::string ImagePathOf(HANDLE process) {
    char path[MAX_PATH] = {};
    if (!GetModuleFileNameExA(process, nullptr, path, MAX_PATH)) return {};
    return path;
}

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

const HookedEntry* EntryOfKind(uint32_t kind) {
    for (const HookedEntry& entry : kHookedEntries)
        if (entry.kind == kind) return &entry;
    return nullptr;
}

}  // namespace

ScanRecord ApiHookRecord(const HookedEntry& entry, const std::string& imagePath, DWORD processId) {
    // The process is named by its path without the drive.
    const std::string::size_type slash = imagePath.find('\\');
    const std::string shown = slash == std::string::npos ? imagePath : imagePath.substr(slash + 1);
    ScanRecord record;
    record.kind = entry.kind;
    record.title = L"API挂钩";
    record.detail = L"进程:[" + FromAnsi(shown) + L"] ID:[" + std::to_wstring(processId) + L"], API:[" +
                    entry.displayName + L"]";
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
    // One handle serves the image path and every entry: the access that the entries need includes the
    // access that the path needs, so a process that refuses it would have yielded no record either.
    ApiHookSweep sweep;
    std::vector<ScanRecord> records;
    for (DWORD id : ids) {
        KernelHandle process(OpenProcess(kHookAccess, FALSE, id));
        if (!process.IsValid() || skipped.PassOver(id, process.Get())) continue;
        const std::string rawPath = ImagePathOf(process.Get());
        if (rawPath.empty()) continue;
        const std::string imagePath = NormaliseImagePath(rawPath);
        const auto codes = sweep.CheckProcess(process.Get());
        for (std::size_t i = 0; i < kHookedEntryCount; ++i)
            if (codes[i] == ApiHookResult::kHooked) records.push_back(ApiHookRecord(kHookedEntries[i], imagePath, id));
    }
    return records;
}

void ScanApiHooks(std::vector<ScanRecord>&, OutOfReachProcesses& outOfReach) {
    // Hooks are only noted: the worm's threads and service are what the user is offered to remove,
    // and rewriting code in a process that some other product hooked on purpose is not this tool's call.
    for (const ScanRecord& record : CollectApiHookRecords(&outOfReach))
        TW_LOG(LogLevel::Detail, "API hook found: %S", record.detail.c_str());
}

bool RepairApiHookRecord(const ScanRecord& record) {
    const HookedEntry* entry = EntryOfKind(record.kind);
    if (!entry) return false;
    HANDLE process = OpenProcess(kHookAccess, FALSE, record.processId);
    if (!process) return false;
    return CheckApiHook(entry->entry, entry->module, true, process) == ApiHookResult::kClean;
}
