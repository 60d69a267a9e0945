#include "platform/system/SystemDllLoader.h"

#include <windows.h>
#include <delayimp.h>

namespace system_dll {
namespace {

UINT SystemFolderOfThisProcess(wchar_t* buffer, UINT size) {
#ifndef _WIN64
    // Present in every 32-bit kernel32 from XP on; fails with ERROR_CALL_NOT_IMPLEMENTED on 32-bit Windows.
    UINT wow64 = GetSystemWow64DirectoryW(buffer, size);
    if (wow64 != 0 && wow64 < size) return wow64;
#endif
    return GetSystemDirectoryW(buffer, size);
}

// The delay-load helper asks here before it loads a DLL. A null answer would make it call LoadLibrary
// with the bare name, the very search this module exists to avoid, so every name gets a module or an
// exception: the same one the helper raises for a DLL it cannot load.
FARPROC WINAPI OnDelayLoad(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary) return nullptr;
    HMODULE module = nullptr;
    std::wstring path = PathInSystemFolder(info->szDll);
    if (!path.empty()) module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        info->dwLastError = path.empty() ? ERROR_ACCESS_DENIED : GetLastError();
        ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
        RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
    }
    return reinterpret_cast<FARPROC>(module);
}

}  // namespace

std::wstring PathInSystemFolder(const char* dll_name) {
    if (dll_name == nullptr || *dll_name == '\0') return std::wstring();
    for (const char* c = dll_name; *c != '\0'; ++c)
        if (*c == '\\' || *c == '/' || *c == ':' || static_cast<unsigned char>(*c) >= 0x80) return std::wstring();
    wchar_t folder[MAX_PATH];
    UINT length = SystemFolderOfThisProcess(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    std::wstring path(folder, length);
    if (path.back() != L'\\') path += L'\\';
    for (const char* c = dll_name; *c != '\0'; ++c) path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return path;
}

}  // namespace system_dll

// The delay-load helper's hook (declared extern "C" by delayimp.h); defined here, the CRT's empty
// default is never linked.
PfnDliHook __pfnDliNotifyHook2 = system_dll::OnDelayLoad;
