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

// The module handles of a process; a list that grows while it is read is asked for once more.
std::vector<HMODULE> ListModules(HANDLE process) {
    std::vector<HMODULE> modules(kFirstModuleGuess);
    DWORD needed = 0;
    const DWORD bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
    BOOL listed = EnumProcessModules(process, modules.data(), bytes, &needed);
    const bool partial = !listed && GetLastError() == ERROR_PARTIAL_COPY && needed > 0;
    if (partial || (listed && needed > bytes)) {
        modules.resize(needed / sizeof(HMODULE));
        const DWORD retryBytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        listed = EnumProcessModules(process, modules.data(), retryBytes, &needed);
        if (listed) needed = std::min(needed, retryBytes);
    }
    if (!listed) return {};
    modules.resize(needed / sizeof(HMODULE));
    return modules;
}

}  // namespace

std::wstring ReadProcessCommandLine(HANDLE process) {
    uintptr_t peb = 0;
    if (!NtApi::ProcessEnvironmentBlock(process, peb)) return {};
    unsigned char pebBlock[NativeLayout::kPebReadSize];
    if (!ReadRemote(process, peb, pebBlock, sizeof pebBlock)) return {};
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

bool ProcessInfo::FillModuleList() {
    modules_.clear();
    if (!handle_.IsValid()) return false;
    const std::vector<HMODULE> handles = ListModules(handle_.Get());
    for (HMODULE module : handles) {
        MODULEINFO information = {};
        if (!GetModuleInformation(handle_.Get(), module, &information, sizeof information)) continue;
        modules_.push_back({reinterpret_cast<uintptr_t>(information.lpBaseOfDll), information.SizeOfImage});
    }
    return !handles.empty();
}

bool ProcessInfo::InAnyModule(uintptr_t address) const {
    return std::any_of(modules_.begin(), modules_.end(),
                       [address](const ModuleInfo& module) { return module.Contains(address); });
}
