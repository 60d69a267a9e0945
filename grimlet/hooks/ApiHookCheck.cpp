#include "grimlet/hooks/ApiHookCheck.h"

#include <psapi.h>

#include <algorithm>
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

constexpr DWORD kMaxModules = 1024;

// The modules of one process, listed once (at most 1024, in the system's order); each module's path is
// asked for at most once.
class ProcessModuleList {
public:
    enum class Naming {
        EveryPath,        // every module's path is read until the name is found
        MappedNameFirst,  // a module whose mapped file bears another name is passed without reading its path
    };
    ProcessModuleList(HANDLE process, Naming naming);
    ProcessModuleList(const ProcessModuleList&) = delete;
    ProcessModuleList& operator=(const ProcessModuleList&) = delete;

    bool Listed() const { return listed_; }
    // The first module whose path ends in `module` after its last backslash, case ignored. Null when
    // there is none.
    HMODULE Find(const char* module, std::string& path);

private:
    // What has been asked of one module so far.
    struct Module {
        HMODULE handle = nullptr;
        bool mappedAsked = false;
        bool mappedRead = false;
        std::string mappedFileName;  // the file name of the mapped file; serves only to pass a module by
        bool pathAsked = false;
        bool pathRead = false;
        std::string path;
    };
    bool MappedNameDiffers(Module& module, const char* name);
    const std::string* PathOf(Module& module);

    HANDLE process_;
    Naming naming_;
    bool listed_ = false;
    std::vector<Module> modules_;
};

const char* FileNameOf(const char* path) {
    const char* slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

// The entry's first bytes as the module file holds them.
bool ReadFileBytes(const std::string& path, uint32_t rva, PatchBytes& bytes) {
    CPEFile file(path.c_str());
    uint32_t offset = 0;
    if (!file.Open() || !file.RvaToOffset(rva, offset) || !file.Seek(offset)) return false;
    uint32_t read = 0;
    const uint8_t* data = file.Read(kPatchSize, read);
    if (!data || read < kPatchSize) return false;
    memcpy(bytes.data(), data, kPatchSize);
    return true;
}

bool ReadMemory(HANDLE process, void* address, PatchBytes& bytes) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, address, bytes.data(), kPatchSize, &read) && read == kPatchSize;
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

    bool Read(PatchBytes& bytes) const { return ReadMemory(process_, address_, bytes); }
    bool Write(const PatchBytes& bytes) const {
        SIZE_T written = 0;
        if (!WriteProcessMemory(process_, address_, bytes.data(), kPatchSize, &written) || written != kPatchSize)
            return false;
        FlushInstructionCache(process_, address_, kPatchSize);
        return true;
    }

private:
    HANDLE process_;
    void* address_;
    DWORD previous_ = 0;
    bool changed_;
};

enum class MemoryRead {
    Unprotected,  // always around the read: what a single test does
    PlainFirst,   // entry points are readable code: the protection is changed only when a plain read fails
};

// The test of one entry, whichever way the module list and the file's bytes are shared.
int TestEntry(HANDLE process, ProcessModuleList& modules, ModuleFileBytes& files, const char* entry,
              const char* module, bool repair, MemoryRead memoryRead) {
    if (!modules.Listed()) return ApiHookResult::kUnreadable;
    std::string modulePath;
    const HMODULE remoteModule = modules.Find(module, modulePath);
    if (!remoteModule) return ApiHookResult::kClean;

    // System modules share their base across processes, so the entry is resolved in this process. A
    // module that this process does not have at the same base cannot be resolved here.
    if (GetModuleHandleA(module) != remoteModule) return ApiHookResult::kUnresolved;
    const FARPROC resolved = GetProcAddress(remoteModule, entry);
    if (!resolved) return ApiHookResult::kUnresolved;
    void* address = reinterpret_cast<void*>(resolved);
    const uintptr_t rva = reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(remoteModule);

    PatchBytes fileBytes = {};
    if (rva > UINT32_MAX || !files.Read(modulePath, static_cast<uint32_t>(rva), fileBytes))
        return ApiHookResult::kBadModuleFile;

    PatchBytes memoryBytes = {};
    const bool plainRead = memoryRead == MemoryRead::PlainFirst && ReadMemory(process, address, memoryBytes);
    if (!plainRead && !UnprotectedRange(process, address).Read(memoryBytes)) return ApiHookResult::kUnreadable;
    if (memoryBytes == fileBytes) return ApiHookResult::kClean;
    if (!repair) return ApiHookResult::kHooked;

    // A repair counts only when the entry holds the file's bytes afterwards.
    UnprotectedRange range(process, address);
    PatchBytes written = {};
    if (!range.Write(fileBytes) || !range.Read(written) || written != fileBytes) return ApiHookResult::kRepairFailed;
    return ApiHookResult::kClean;
}

}  // namespace

ProcessModuleList::ProcessModuleList(HANDLE process, Naming naming) : process_(process), naming_(naming) {
    std::vector<HMODULE> handles(kMaxModules);
    DWORD needed = 0;
    if (!EnumProcessModules(process, handles.data(), static_cast<DWORD>(handles.size() * sizeof(HMODULE)), &needed))
        return;
    handles.resize(std::min<std::size_t>(needed / sizeof(HMODULE), handles.size()));
    modules_.reserve(handles.size());
    for (HMODULE handle : handles) {
        Module module;
        module.handle = handle;
        modules_.push_back(std::move(module));
    }
    listed_ = true;
}

HMODULE ProcessModuleList::Find(const char* module, std::string& path) {
    for (Module& candidate : modules_) {
        if (naming_ == Naming::MappedNameFirst && MappedNameDiffers(candidate, module)) continue;
        const std::string* candidatePath = PathOf(candidate);
        if (!candidatePath || _stricmp(FileNameOf(candidatePath->c_str()), module) != 0) continue;
        path = *candidatePath;
        return candidate.handle;
    }
    return nullptr;
}

// Asking the mapped file costs one query, the module's path a walk of the process's module list. A
// module whose mapped file has another name is not the one looked for: the names differ only where a
// module is loaded through a link of another name, which system modules never are.
bool ProcessModuleList::MappedNameDiffers(Module& module, const char* name) {
    if (!module.mappedAsked) {
        module.mappedAsked = true;
        char mapped[MAX_PATH] = {};
        module.mappedRead = GetMappedFileNameA(process_, module.handle, mapped, MAX_PATH) != 0;
        if (module.mappedRead) module.mappedFileName = FileNameOf(mapped);
    }
    return module.mappedRead && _stricmp(module.mappedFileName.c_str(), name) != 0;
}

const std::string* ProcessModuleList::PathOf(Module& module) {
    if (!module.pathAsked) {
        module.pathAsked = true;
        char path[MAX_PATH] = {};
        module.pathRead = GetModuleFileNameExA(process_, module.handle, path, MAX_PATH) != 0;
        if (module.pathRead) module.path = path;
    }
    return module.pathRead ? &module.path : nullptr;
}

bool ModuleFileBytes::Read(const std::string& path, uint32_t rva, PatchBytes& bytes) {
    const auto key = std::make_pair(path, rva);
    auto known = outcomes_.find(key);
    if (known == outcomes_.end()) {
        Outcome outcome = {};
        outcome.read = ReadFileBytes(path, rva, outcome.bytes);
        known = outcomes_.emplace(key, outcome).first;
    }
    if (known->second.read) bytes = known->second.bytes;
    return known->second.read;
}

int CheckApiHook(const char* entry, const char* module, bool repair, HANDLE processHandle) {
    KernelHandle process(processHandle);
    ProcessModuleList modules(process.Get(), ProcessModuleList::Naming::EveryPath);
    ModuleFileBytes fileBytes;
    return TestEntry(process.Get(), modules, fileBytes, entry, module, repair, MemoryRead::Unprotected);
}

std::array<int, kHookedEntryCount> ApiHookSweep::CheckProcess(HANDLE process) {
    ProcessModuleList modules(process, ProcessModuleList::Naming::MappedNameFirst);
    std::array<int, kHookedEntryCount> codes = {};
    for (std::size_t i = 0; i < kHookedEntryCount; ++i)
        codes[i] = TestEntry(process, modules, fileBytes_, kHookedEntries[i].entry, kHookedEntries[i].module, false,
                             MemoryRead::PlainFirst);
    return codes;
}
