#include "platform/system/DataFolder.h"

#include <windows.h>
#include <shlobj.h>

namespace {

// Looked up when needed: the dialog, which never asks, keeps the program's import table as it was and
// does not load the shell's library. Once loaded, the library stays: the shell keeps state of its own.
std::wstring CommonAppDataFolder() {
    typedef HRESULT(WINAPI * GetFolderPathFn)(HWND, int, HANDLE, DWORD, LPWSTR);
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    if (!shell) return {};
    std::wstring folder;
    auto getFolderPath =
        reinterpret_cast<GetFolderPathFn>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathW")));
    wchar_t path[MAX_PATH] = {};
    if (getFolderPath && SUCCEEDED(getFolderPath(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        folder = path;
    return folder;
}

}  // namespace

std::wstring TidewashDataFolder(const wchar_t* leaf) {
    std::wstring folder = CommonAppDataFolder();
    if (folder.empty()) return {};
    if (folder.back() != L'\\') folder += L'\\';
    folder += L"Quorvel\\Tidewash";
    if (leaf && *leaf) folder += std::wstring(L"\\") + leaf;
    return folder;
}
