#include "grimlet/tasks/TaskFileLookup.h"

#include <windows.h>

#include <cwctype>
#include <vector>

#include "grimlet/tasks/JobFile.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"
#include "platform/system/FileSystemRedirectionGuard.h"
#include "platform/system/Wow64.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletTasks";

namespace {

// A worm DLL of this scan lies on a local fixed drive. A task's text is anybody's on XP, so nothing else
// is ever opened for it: a share would take the machine's logon to any host, a pipe would let its
// server act as SYSTEM, a device name opens the device, and either may never answer.
bool IsDeviceName(const std::wstring& part) {
    std::wstring base = part.substr(0, part.find(L'.'));
    while (!base.empty() && (base.back() == L' ' || base.back() == L'.')) base.pop_back();
    for (wchar_t& c : base) c = static_cast<wchar_t>(towupper(c));
    static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* name : kNames)
        if (base == name) return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'0' && base[3] <= L'9';
}

bool IsLocalFixedPath(const std::wstring& path) {
    if (path.size() < 4 || path[1] != L':' || path[2] != L'\\' || !iswalpha(path[0])) return false;
    if (GetDriveTypeW(path.substr(0, 3).c_str()) != DRIVE_FIXED) return false;
    std::size_t start = 3;
    while (start < path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (IsDeviceName(path.substr(start, end - start))) return false;
        start = end + 1;
    }
    return path.find_first_of(L"*?<>|\"", 3) == std::wstring::npos && path.find(L':', 3) == std::wstring::npos;
}

constexpr uint64_t kMaxDllBytes = 64u << 20;

}  // namespace

ITaskFileLookup::Result TaskFileLookup::Identify(const std::wstring& path, TaskFileIdentity& identity) {
    identity = TaskFileIdentity();
    if (!IsLocalFixedPath(path)) {
        TW_LOG(LogLevel::Warning, "A task names %S, which is no file of a local fixed drive: not opened", path.c_str());
        return Result::Unreadable;
    }
    KernelHandle file;
    {
        // The task runs in a native process: its System32 is the native one.
        FileSystemRedirectionGuard redirection;
        file.Attach(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN | SECURITY_SQOS_PRESENT |
                                    SECURITY_IDENTIFICATION,
                                nullptr));
    }
    if (file.IsValid() && GetFileType(file.Get()) != FILE_TYPE_DISK) {
        TW_LOG(LogLevel::Warning, "%S named by a task is no disk file", path.c_str());
        return Result::Unreadable;
    }
    if (!file.IsValid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME) return Result::Absent;
        TW_LOG(LogLevel::Warning, "CreateFileW(%S) for a task Error=%d", path.c_str(), (int)error);
        return Result::Unreadable;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file.Get(), &information)) return Result::Unreadable;
    // A folder or a link is not the file the loader would map.
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return Result::Unreadable;
    if (((static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow) > kMaxDllBytes)
        return Result::Unreadable;
    FileDigest digest(false, true);
    std::vector<char> block(64 << 10);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) {
            TW_LOG(LogLevel::Warning, "ReadFile(%S) for a task Error=%d", path.c_str(), (int)GetLastError());
            return Result::Unreadable;
        }
        if (got == 0) break;
        digest.Update(block.data(), got);
    }
    identity.volumeSerial = information.dwVolumeSerialNumber;
    identity.fileIndex = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    identity.sha1 = digest.FinishSha1Hex();
    return Result::Found;
}

TaskSearchFolders SystemTaskSearchFolders() {
    TaskSearchFolders folders;
    wchar_t buffer[MAX_PATH];
    UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) folders.systemFolders.push_back(std::wstring(buffer, length));
    length = IsWow64() ? GetSystemWow64DirectoryW(buffer, MAX_PATH) : 0;
    if (length > 0 && length < MAX_PATH) folders.systemFolders.push_back(std::wstring(buffer, length));
    length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) folders.windowsFolder.assign(buffer, length);
    return folders;
}

std::wstring ExpandTaskText(const std::wstring& text) {
    // Far beyond any command line the system starts.
    constexpr DWORD kMaxExpandedUnits = 32768;
    if (text.find(L'%') == std::wstring::npos) return text;
    std::wstring out(kMaxExpandedUnits, L'\0');
    const DWORD length = ExpandEnvironmentStringsW(text.c_str(), &out[0], kMaxExpandedUnits);
    if (length == 0 || length > kMaxExpandedUnits) return text;
    out.resize(length - 1);
    return out;
}

TaskCommand JobTaskCommand(const JobFileTask& task) {
    auto wide = [](const std::u16string& text) { return ExpandTaskText(std::wstring(text.begin(), text.end())); };
    return {wide(task.applicationName), wide(task.parameters), wide(task.workingDirectory)};
}
