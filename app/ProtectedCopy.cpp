#include "app/ProtectedCopy.h"

#include <windows.h>

#include <cwchar>

#include "platform/security/ProtectedDataFolder.h"

const wchar_t ProtectedCopy::kCopyName[] = L"Tidewash.exe";
const wchar_t ProtectedCopy::kStartedAsCopy[] = L"TIDEWASH_PROTECTED_COPY";

namespace {

constexpr DWORD kModulePathSize = 4096;

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

std::wstring ProtectedCopy::ThisProgramPath() {
    wchar_t path[kModulePathSize] = {};
    const DWORD got = GetModuleFileNameW(nullptr, path, kModulePathSize);
    return got == 0 || got >= kModulePathSize ? std::wstring() : std::wstring(path, got);
}

std::wstring ProtectedCopy::RunFolderNameIn(const std::wstring& work) {
    const std::wstring runFolder = FolderOf(ThisProgramPath());
    const std::wstring parent = FolderOf(runFolder);
    if (work.empty() || parent.empty() || _wcsicmp(parent.c_str(), work.c_str()) != 0) return std::wstring();
    return runFolder.substr(parent.size() + 1);
}

ProtectedCopy::Place ProtectedCopy::ThisProcess() {
    ProtectedDataFolder work(L"Work");
    const std::wstring name = work.IsOpen() ? RunFolderNameIn(work.Path()) : std::wstring();
    if (!name.empty()) {
        std::wstring failure;
        return work.OpenTrustedChild(name, failure).IsValid() ? Place::Copy : Place::UntrustedCopy;
    }
    wchar_t mark[4];
    return GetEnvironmentVariableW(kStartedAsCopy, mark, 4) != 0 ? Place::UntrustedCopy : Place::FirstProcess;
}
