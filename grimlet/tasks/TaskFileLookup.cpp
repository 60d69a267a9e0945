#include "grimlet/tasks/TaskFileLookup.h"

#include <windows.h>

#include <vector>

#include "grimlet/tasks/JobFile.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"
#include "platform/system/FileSystemRedirectionGuard.h"
#include "platform/system/Wow64.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletTasks";

ITaskFileLookup::Result TaskFileLookup::Identify(const std::wstring& path, TaskFileIdentity& identity) {
    identity = TaskFileIdentity();
    KernelHandle file;
    {
        // The task runs in a native process: its System32 is the native one.
        FileSystemRedirectionGuard redirection;
        file.Attach(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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
