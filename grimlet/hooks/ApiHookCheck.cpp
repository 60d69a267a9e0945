#include "grimlet/hooks/ApiHookCheck.h"

#include <psapi.h>

#include <cstring>
#include <vector>

#include "grimlet/pe/CPEFile.h"
#include "platform/win32/KernelHandle.h"

const HookedEntry kHookedEntries[kHookedEntryCount] = {
    {3, "ZwQueryInformationProcess", "ntdll.dll", L"ZwQuertInformationProcess"},
    {4, "sendto", "ws2_32.dll", L"sendto"},
    {5, "DnsQuery_A", "dnsapi.dll", L"DnsQuery_A"},
    {6, "DnsQuery_W", "dnsapi.dll", L"DnsQuery_W"},
    {7, "DnsQuery_UTF8", "dnsapi.dll", L"DnsQuery_UTF8"},
    {8, "Query_Main", "dnsapi.dll", L"Query_Main"},
    {9, "NetpwPathCannonicalize", "netapi32.dll", L"NetpwPathCannonicalize"},
};

namespace {

constexpr std::size_t kPatchSize = 5;  // a near jump: the size of the worm's hooks
constexpr DWORD kMaxModules = 1024;

using PatchBytes = unsigned char[kPatchSize];

// The first module of the process whose file name is `module`, with its path.
bool FindModule(HANDLE process, const char* module, HMODULE& found, std::string& path) {
    std::vector<HMODULE> modules(kMaxModules);
    DWORD needed = 0;
    if (!EnumProcessModules(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed))
        return false;
    modules.resize(std::min<std::size_t>(needed / sizeof(HMODULE), modules.size()));
    for (HMODULE candidate : modules) {
        char name[MAX_PATH] = {};
        if (!GetModuleFileNameExA(process, candidate, name, MAX_PATH)) continue;
        const char* fileName = strrchr(name, '\\');
        if (_stricmp(fileName ? fileName + 1 : name, module) != 0) continue;
        found = candidate;
        path = name;
        return true;
    }
    found = nullptr;
    return true;
}

// The entry's first bytes as the module file holds them.
bool ReadFileBytes(const std::string& path, uint32_t rva, PatchBytes& bytes) {
    CPEFile file(path.c_str());
    uint32_t offset = 0;
    if (!file.Open() || !file.RvaToOffset(rva, offset) || !file.Seek(offset)) return false;
    uint32_t read = 0;
    const uint8_t* data = file.Read(kPatchSize, read);
    if (!data || read < kPatchSize) return false;
    memcpy(bytes, data, kPatchSize);
    return true;
}

// Reads or writes the bytes at `address` with the page made writable for the moment of the access.
class UnprotectedRange {
public:
    UnprotectedRange(HANDLE process, void* address)
        : process_(process), address_(address),
          changed_(VirtualProtectEx(process, address, kPatchSize, PAGE_EXECUTE_READWRITE, &previous_) != FALSE) {}
    ~UnprotectedRange() {
        DWORD ignored = 0;
        if (changed_) VirtualProtectEx(process_, address_, kPatchSize, previous_, &ignored);
    }
    UnprotectedRange(const UnprotectedRange&) = delete;
    UnprotectedRange& operator=(const UnprotectedRange&) = delete;

    bool Read(PatchBytes& bytes) const {
        SIZE_T read = 0;
        return ReadProcessMemory(process_, address_, bytes, kPatchSize, &read) && read == kPatchSize;
    }
    bool Write(const PatchBytes& bytes) const {
        SIZE_T written = 0;
        if (!WriteProcessMemory(process_, address_, bytes, kPatchSize, &written) || written != kPatchSize) return false;
        FlushInstructionCache(process_, address_, kPatchSize);
        return true;
    }

private:
    HANDLE process_;
    void* address_;
    DWORD previous_ = 0;
    bool changed_;
};

}  // namespace

int CheckApiHook(const char* entry, const char* module, bool repair, HANDLE processHandle) {
    KernelHandle process(processHandle);
    HMODULE remoteModule = nullptr;
    std::string modulePath;
    if (!FindModule(process.Get(), module, remoteModule, modulePath)) return ApiHookResult::kUnreadable;
    if (!remoteModule) return ApiHookResult::kClean;

    // System modules share their base across processes, so the entry is resolved in this process. A
    // module that this process does not have at the same base cannot be resolved here.
    if (GetModuleHandleA(module) != remoteModule) return ApiHookResult::kUnresolved;
    const FARPROC resolved = GetProcAddress(remoteModule, entry);
    if (!resolved) return ApiHookResult::kUnresolved;
    void* address = reinterpret_cast<void*>(resolved);
    const uintptr_t rva = reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(remoteModule);

    PatchBytes fileBytes = {};
    if (rva > UINT32_MAX || !ReadFileBytes(modulePath, static_cast<uint32_t>(rva), fileBytes))
        return ApiHookResult::kBadModuleFile;

    PatchBytes memoryBytes = {};
    if (!UnprotectedRange(process.Get(), address).Read(memoryBytes)) return ApiHookResult::kUnreadable;
    if (memcmp(memoryBytes, fileBytes, kPatchSize) == 0) return ApiHookResult::kClean;
    if (!repair) return ApiHookResult::kHooked;

    // A repair counts only when the entry holds the file's bytes afterwards.
    UnprotectedRange range(process.Get(), address);
    PatchBytes written = {};
    if (!range.Write(fileBytes) || !range.Read(written) || memcmp(written, fileBytes, kPatchSize) != 0)
        return ApiHookResult::kRepairFailed;
    return ApiHookResult::kClean;
}
