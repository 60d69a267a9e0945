#include "platform/access/SKWinApiFile.h"

HANDLE SKWinApiFile::CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                 LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                                 DWORD flagsAndAttributes, HANDLE templateFile) {
    return ::CreateFileW(fileName, desiredAccess, shareMode, securityAttributes, creationDisposition,
                         flagsAndAttributes, templateFile);
}

BOOL SKWinApiFile::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

HANDLE SKWinApiFile::OpenLockFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                                   DWORD flagsAndAttributes, HANDLE templateFile) {
    // Win32 has no way past another process's sharing lock: the second try is the same open.
    return ::CreateFileW(fileName, desiredAccess, shareMode, securityAttributes, creationDisposition,
                         flagsAndAttributes, templateFile);
}

BOOL SKWinApiFile::CloseLockFile(HANDLE handle) { return CloseHandle(handle); }

BOOL SKWinApiFile::ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                            LPOVERLAPPED overlapped) {
    return ::ReadFile(file, buffer, bytesToRead, bytesRead, overlapped);
}

DWORD SKWinApiFile::SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) {
    return ::SetFilePointer(file, distanceToMove, distanceToMoveHigh, moveMethod);
}

DWORD SKWinApiFile::GetFileSize(HANDLE file, LPDWORD fileSizeHigh) { return ::GetFileSize(file, fileSizeHigh); }

BOOL SKWinApiFile::DeleteFileW(LPCWSTR fileName) { return ::DeleteFileW(fileName); }

ULONG_PTR SKWinApiFile::LowLevelQuery(ULONG_PTR) { return 0; }

DWORD SKWinApiFile::GetFileAttributesW(LPCWSTR fileName) { return ::GetFileAttributesW(fileName); }

BOOL SKWinApiFile::CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) {
    return ::CopyFileW(existingFileName, newFileName, failIfExists);
}

BOOL SKWinApiFile::MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName) {
    return ::MoveFileW(existingFileName, newFileName);
}

HANDLE SKWinApiFile::FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    return ::FindFirstFileW(fileName, findData);
}

BOOL SKWinApiFile::FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData) {
    return ::FindNextFileW(findFile, findData);
}

BOOL SKWinApiFile::FindClose(HANDLE findFile) { return ::FindClose(findFile); }

BOOL SKWinApiFile::RemoveFileW(LPCWSTR fileName) { return ::DeleteFileW(fileName); }
