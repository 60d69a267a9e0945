#include "grimlet/threads/ProcessInfo.h"

#include <psapi.h>

#include <algorithm>
#include <cwctype>

#include "grimlet/threads/NativeLayout.h"
#include "grimlet/threads/NtApi.h"

namespace {

constexpr DWORD kSearchAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;  // 0x411
constexpr std::size_t kPathCharacters = MAX_PATH - 1;  // the last of 260 characters stays 0
constexpr USHORT kMaxCommandLineBytes = 2048;
constexpr DWORD kFirstModuleGuess = 256;
constexpr int kListAttempts = 4;
constexpr DWORD kGrowthRoom = 16;

bool ReadRemote(HANDLE process, uintptr_t address, void* buffer, std::size_t size) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), buffer, size, &read) && read == size;
}

std::wstring LongPathOf(const std::wstring& path) {
    if (path.empty()) return path;
    wchar_t longPath[MAX_PATH] = {};
    const DWORD length = GetLongPathNameW(path.c_str(), longPath, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(longPath, length) : path;
}

std::wstring Lowered(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The module handles of a process, complete or not at all. A list that grows between the size query
// and the copy is asked for again with room for the growth; a copy the system could only make in part
// (ERROR_PARTIAL_COPY: the loader's list was in change or not yet set up) is tried again too.
bool ListModules(HANDLE process, const ModuleLister& lister, std::vector<HMODULE>& modules) {
    std::vector<HMODULE> buffer(kFirstModuleGuess);
    for (int attempt = 0; attempt < kListAttempts; ++attempt) {
        const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(HMODULE));
        DWORD needed = 0;
        if (!lister.Enumerate(process, buffer.data(), bytes, needed)) {
            if (GetLastError() == ERROR_PARTIAL_COPY) continue;
            return false;
        }
        if (needed == 0 || needed % sizeof(HMODULE) != 0) return false;
        if (needed <= bytes) {
            buffer.resize(needed / sizeof(HMODULE));
            modules = std::move(buffer);
            return true;
        }
        buffer.resize(needed / sizeof(HMODULE) + kGrowthRoom);
    }
    return false;
}

// The environment block of a process, in this build's layout.
bool ReadEnvironmentBlock(HANDLE process, unsigned char (&block)[NativeLayout::kPebReadSize]) {
    uintptr_t peb = 0;
    return NtApi::ProcessEnvironmentBlock(process, peb) && ReadRemote(process, peb, block, sizeof block);
}

bool HasModuleAt(const std::vector<ModuleInfo>& modules, uintptr_t base) {
    return base != 0 && std::any_of(modules.begin(), modules.end(),
                                    [base](const ModuleInfo& module) { return module.base == base; });
}

// ntdll and kernel32 lie at the same address in every process of this bitness.
uintptr_t SystemModuleBase(const wchar_t* name) { return reinterpret_cast<uintptr_t>(GetModuleHandleW(name)); }

}  // namespace

std::wstring ReadProcessCommandLine(HANDLE process) {
    unsigned char pebBlock[NativeLayout::kPebReadSize];
    if (!ReadEnvironmentBlock(process, pebBlock)) return {};
    const auto parameters = NativeLayout::ReadField<uintptr_t>(pebBlock, NativeLayout::kPebProcessParameters);
    unsigned char parametersBlock[NativeLayout::kParametersReadSize];
    if (!parameters || !ReadRemote(process, parameters, parametersBlock, sizeof parametersBlock)) return {};
    const auto length = NativeLayout::ReadField<USHORT>(parametersBlock, NativeLayout::kCommandLineLength);
    const auto buffer = NativeLayout::ReadField<uintptr_t>(parametersBlock, NativeLayout::kCommandLineBuffer);
    if (length > kMaxCommandLineBytes || !buffer) return {};
    std::wstring commandLine(length / sizeof(wchar_t), L'\0');
    if (!commandLine.empty() && !ReadRemote(process, buffer, &commandLine[0], commandLine.size() * sizeof(wchar_t)))
        return {};
    // The system's string may carry a terminator inside its length; the text ends there.
    commandLine.resize(wcsnlen(commandLine.c_str(), commandLine.size()));
    return commandLine;
}

ProcessInfo::ProcessInfo(DWORD processId)
    : processId_(processId), handle_(OpenProcess(kSearchAccess, FALSE, processId)) {
    if (!handle_.IsValid()) return;
    wchar_t baseName[MAX_PATH] = {};
    if (GetModuleBaseNameW(handle_.Get(), nullptr, baseName, kPathCharacters)) baseName_ = baseName;
}

const std::wstring& ProcessInfo::ImagePath() const {
    if (!imagePathRead_ && handle_.IsValid()) {
        wchar_t path[MAX_PATH] = {};
        if (GetModuleFileNameExW(handle_.Get(), nullptr, path, kPathCharacters)) imagePath_ = LongPathOf(path);
    }
    imagePathRead_ = true;
    return imagePath_;
}

const std::wstring& ProcessInfo::CommandLine() const {
    if (!commandLineRead_ && handle_.IsValid()) commandLine_ = ReadProcessCommandLine(handle_.Get());
    commandLineRead_ = true;
    return commandLine_;
}

ProcessInfo::ProcessInfo(DWORD processId, HandleOnly)
    : processId_(processId), handle_(OpenProcess(kSearchAccess, FALSE, processId)) {}

bool ProcessInfo::Matches(const std::wstring& imageName, const std::wstring& commandFilter) const {
    if (!imageName.empty() && _wcsicmp(imageName.c_str(), baseName_.c_str()) != 0) return false;
    return commandFilter.empty() || Lowered(CommandLine()).find(commandFilter) != std::wstring::npos;
}

ModuleListing ProcessInfo::FillModuleList(const ModuleLister& lister) {
    modules_.clear();
    if (!handle_.IsValid()) return ModuleListing::Unreadable;
    std::vector<HMODULE> handles;
    if (!ListModules(handle_.Get(), lister, handles)) return ModuleListing::Unreadable;
    std::vector<ModuleInfo> modules;
    modules.reserve(handles.size());
    for (HMODULE module : handles) {
        MODULEINFO information = {};
        // One module left out would make every thread that runs in it look foreign.
        if (!lister.Describe(handle_.Get(), module, information)) return ModuleListing::Unreadable;
        modules.push_back({reinterpret_cast<uintptr_t>(information.lpBaseOfDll), information.SizeOfImage});
    }
    // A module loaded or unloaded meanwhile may be missing from the ranges just read.
    std::vector<HMODULE> again;
    if (!ListModules(handle_.Get(), lister, again)) return ModuleListing::Unreadable;
    if (again != handles) return ModuleListing::Changed;
    // Every thread of a process starts in one of these three: a list without them is not the loader's.
    unsigned char pebBlock[NativeLayout::kPebReadSize];
    if (!ReadEnvironmentBlock(handle_.Get(), pebBlock)) return ModuleListing::Unreadable;
    const auto imageBase = NativeLayout::ReadField<uintptr_t>(pebBlock, NativeLayout::kPebImageBase);
    if (!HasModuleAt(modules, imageBase) || !HasModuleAt(modules, SystemModuleBase(L"ntdll.dll")) ||
        !HasModuleAt(modules, SystemModuleBase(L"kernel32.dll")))
        return ModuleListing::LacksSystemModules;
    modules_ = std::move(modules);
    return ModuleListing::Complete;
}

const char* DescribeModuleListing(ModuleListing listing) {
    switch (listing) {
        case ModuleListing::Complete: return "complete";
        case ModuleListing::Unreadable: return "could not be read completely";
        case ModuleListing::Changed: return "changed while it was read";
        case ModuleListing::LacksSystemModules: return "lacks the image, ntdll or kernel32";
    }
    return "unknown";
}

bool ReadLoaderLockOwner(HANDLE process, DWORD& threadId) {
    unsigned char pebBlock[NativeLayout::kPebReadSize];
    if (!ReadEnvironmentBlock(process, pebBlock)) return false;
    const auto lock = NativeLayout::ReadField<uintptr_t>(pebBlock, NativeLayout::kPebLoaderLock);
    uintptr_t owner = 0;
    if (!lock || !ReadRemote(process, lock + NativeLayout::kCriticalSectionOwner, &owner, sizeof owner)) return false;
    threadId = static_cast<DWORD>(owner);
    return true;
}

bool ProcessInfo::InAnyModule(uintptr_t address) const {
    return std::any_of(modules_.begin(), modules_.end(),
                       [address](const ModuleInfo& module) { return module.Contains(address); });
}
