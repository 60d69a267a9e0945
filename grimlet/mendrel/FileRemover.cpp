#include "grimlet/mendrel/FileRemover.h"

#include <windows.h>

#include "grimlet/common/FileSystemRedirectionGuard.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"RunMendrel";

FileRemoval RemoveFileNowOrAtRestart(const std::wstring& path) {
    FileSystemRedirectionGuard redirection;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileRemoval::Missing;
        TW_LOG(LogLevel::Error, "GetFileAttributesW(%S) Error=%d", path.c_str(), (int)error);
        return FileRemoval::Failed;
    }
    const DWORD clear = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
    if ((attributes & clear) && !SetFileAttributesW(path.c_str(), (attributes & ~clear) | FILE_ATTRIBUTE_NORMAL))
        TW_LOG(LogLevel::Warning, "SetFileAttributesW(%S) Error=%d", path.c_str(), (int)GetLastError());
    if (DeleteFileW(path.c_str())) {
        TW_LOG(LogLevel::Info, "Deleted %S", path.c_str());
        return FileRemoval::Deleted;
    }
    DWORD error = GetLastError();
    if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        TW_LOG(LogLevel::Info, "DeleteFileW(%S) Error=%d; deleted at restart", path.c_str(), (int)error);
        return FileRemoval::DeletedAtRestart;
    }
    TW_LOG(LogLevel::Error, "DeleteFileW(%S) Error=%d, MoveFileExW Error=%d", path.c_str(), (int)error,
           (int)GetLastError());
    if (attributes & clear) SetFileAttributesW(path.c_str(), attributes);
    return FileRemoval::Failed;
}

bool MoveFileAsideAtRestart(const std::wstring& path, const std::wstring& target) {
    FileSystemRedirectionGuard redirection;
    if (MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
        TW_LOG(LogLevel::Info, "%S is moved to %S at restart", path.c_str(), target.c_str());
        return true;
    }
    TW_LOG(LogLevel::Error, "MoveFileExW(%S, %S) Error=%d", path.c_str(), target.c_str(), (int)GetLastError());
    return false;
}
