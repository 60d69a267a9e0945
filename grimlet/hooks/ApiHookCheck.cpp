#include "grimlet/hooks/ApiHookCheck.h"

#include <cstring>

#include "platform/win32/KernelHandle.h"

const HookedEntry kHookedEntries[kHookedEntryCount] = {
    {3, "ZwQueryInformationProcess", "ntdll.dll", L"ZwQuertInformationProcess"},
    {4, "sendto", "ws2_32.dll", L"sendto"},
    {5, "DnsQuery_A", "dnsapi.dll", L"DnsQuery_A"},
    {6, "DnsQuery_W", "dnsapi.dll", L"DnsQuery_W"},
    {7, "DnsQuery_UTF8", "dnsapi.dll", L"DnsQuery_UTF8"},
    {8, "Query_Main", "dnsapi.dll", L"Query_Main"},
    // The export's real name; the finding keeps the name it has always shown.
    {9, "NetpwPathCanonicalize", "netapi32.dll", L"NetpwPathCannonicalize"},
};

const HookedEntry* HookedEntryOfKind(uint32_t kind) {
    for (const HookedEntry& entry : kHookedEntries)
        if (entry.kind == kind) return &entry;
    return nullptr;
}

const char* DescribeEntryOutcome(EntryState::Outcome outcome) {
    switch (outcome) {
        case EntryState::Outcome::Clean: return "it holds the file's bytes";
        case EntryState::Outcome::Differs: return "it differs from the file";
        case EntryState::Outcome::NotLoaded: return "the module is not loaded";
        case EntryState::Outcome::Unresolved: return "the module file does not export it";
        case EntryState::Outcome::BadModuleFile: return "the module file cannot be read";
        case EntryState::Outcome::Unreadable: return "the process's memory cannot be read";
    }
    return "unknown";
}

EntryState EntryReader::Read(HANDLE process, RemoteSystemModules& modules, SystemFolder folder,
                             const HookedEntry& entry) {
    EntryState state;
    if (!modules.Listed()) return state;
    const PeFileImage* moduleFile = files_.File(folder, entry.module);
    if (!moduleFile) {
        state.outcome = EntryState::Outcome::BadModuleFile;
        return state;
    }
    if (!modules.BaseOf(entry.module, *moduleFile)) {
        state.outcome = EntryState::Outcome::NotLoaded;
        return state;
    }
    SystemModuleFiles::Entry resolved;
    if (!files_.Resolve(folder, entry.module, entry.entry, resolved)) {
        state.outcome = EntryState::Outcome::Unresolved;
        return state;
    }
    // A forwarder leads into another module, which must be mapped too.
    const uintptr_t base = modules.BaseOf(resolved.module, *resolved.file);
    if (!base) {
        state.outcome = EntryState::Outcome::NotLoaded;
        return state;
    }
    state.address = base + resolved.rva;
    state.length = FileBytesAsMapped(*resolved.file, base, resolved.rva, kEntryCompareSize, state.file.data());
    if (state.length == 0) {
        state.outcome = EntryState::Outcome::BadModuleFile;
        return state;
    }
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(state.address), state.memory.data(), state.length, &read) ||
        read != state.length) {
        state.outcome = EntryState::Outcome::Unreadable;
        return state;
    }
    state.outcome = memcmp(state.file.data(), state.memory.data(), state.length) == 0 ? EntryState::Outcome::Clean
                                                                                      : EntryState::Outcome::Differs;
    return state;
}

namespace {

int CodeOf(EntryState::Outcome outcome) {
    switch (outcome) {
        case EntryState::Outcome::Clean:
        case EntryState::Outcome::NotLoaded: return ApiHookResult::kClean;
        case EntryState::Outcome::Differs: return ApiHookResult::kHooked;
        case EntryState::Outcome::Unresolved: return ApiHookResult::kUnresolved;
        case EntryState::Outcome::BadModuleFile: return ApiHookResult::kBadModuleFile;
        case EntryState::Outcome::Unreadable: return ApiHookResult::kUnreadable;
    }
    return ApiHookResult::kUnreadable;
}

// Makes the bytes writable for the moment of the write, and puts the protection back.
class UnprotectedRange {
public:
    UnprotectedRange(HANDLE process, uintptr_t address, uint32_t count)
        : process_(process), address_(reinterpret_cast<void*>(address)), count_(count),
          changed_(VirtualProtectEx(process, address_, count, PAGE_EXECUTE_READWRITE, &previous_) != FALSE) {}
    ~UnprotectedRange() {
        DWORD ignored = 0;
        if (changed_) VirtualProtectEx(process_, address_, count_, previous_, &ignored);
    }
    UnprotectedRange(const UnprotectedRange&) = delete;
    UnprotectedRange& operator=(const UnprotectedRange&) = delete;

private:
    HANDLE process_;
    void* address_;
    uint32_t count_;
    DWORD previous_ = 0;
    bool changed_;
};

}  // namespace

bool WriteEntryBytes(HANDLE process, uintptr_t address, const unsigned char* bytes, uint32_t count) {
    if (count == 0 || count > kEntryCompareSize) return false;
    {
        UnprotectedRange range(process, address, count);
        SIZE_T written = 0;
        if (!WriteProcessMemory(process, reinterpret_cast<void*>(address), bytes, count, &written) || written != count)
            return false;
        FlushInstructionCache(process, reinterpret_cast<void*>(address), count);
    }
    EntryBytes back = {};
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<void*>(address), back.data(), count, &read) && read == count &&
           memcmp(back.data(), bytes, count) == 0;
}

int CheckApiHook(const char* entry, const char* module, bool repair, HANDLE processHandle) {
    KernelHandle process(processHandle);
    SystemFolder folder;
    if (!SystemFolderOf(process.Get(), folder)) return ApiHookResult::kUnreadable;
    RemoteSystemModules modules(process.Get());
    EntryReader reader;
    const HookedEntry wanted = {0, entry, module, L""};
    const EntryState state = reader.Read(process.Get(), modules, folder, wanted);
    if (state.outcome != EntryState::Outcome::Differs || !repair) return CodeOf(state.outcome);
    return WriteEntryBytes(process.Get(), state.address, state.file.data(), state.length) ? ApiHookResult::kClean
                                                                                          : ApiHookResult::kRepairFailed;
}

std::array<int, kHookedEntryCount> ApiHookSweep::CheckProcess(HANDLE process) {
    std::array<int, kHookedEntryCount> codes = {};
    SystemFolder folder;
    if (!SystemFolderOf(process, folder)) {
        codes.fill(ApiHookResult::kUnreadable);
        return codes;
    }
    RemoteSystemModules modules(process);
    for (std::size_t i = 0; i < kHookedEntryCount; ++i)
        codes[i] = CodeOf(reader_.Read(process, modules, folder, kHookedEntries[i]).outcome);
    return codes;
}
