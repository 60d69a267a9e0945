#pragma once
// Where RunMendrel.exe keeps what it removed: a per-machine folder that outlives the work folder, which
// the next start of Tidewash.exe deletes. Header-only so that the program, which cannot link the
// engine's code, names the same folder (it needs shell32).
#include <windows.h>

#include <shlobj.h>

#include <string>

// "<common application data>\Quorvel\Tidewash\Quarantine"; empty when the system will not name the
// common application data folder or the result leaves too little room for the files inside.
inline std::wstring MachineQuarantineFolder() {
    wchar_t base[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base))) return std::wstring();
    std::wstring folder(base);
    if (folder.empty()) return folder;
    if (folder.back() != L'\\') folder += L'\\';
    folder += L"Quorvel\\Tidewash\\Quarantine";
    // Room for "\<40-digit SHA-1>-<n>.reg" and the temporary names beside it.
    constexpr std::size_t kRoomForNames = 64;
    return folder.size() + kRoomForNames < MAX_PATH ? folder : std::wstring();
}
