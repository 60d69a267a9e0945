#pragma once
#include "platform/access/SKApiFile.h"

// The Win32 access mode for files: each operation is the Win32 function of the same name, unchanged
// (result and last-error value included).
class SKWinApiFile : public SKApiFile {
public:
    HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                       LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                       DWORD flagsAndAttributes, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE handle) override;
    HANDLE OpenLockFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                         LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                         DWORD flagsAndAttributes, HANDLE templateFile) override;
    BOOL CloseLockFile(HANDLE handle) override;
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                  LPOVERLAPPED overlapped) override;
    DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) override;
    DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh) override;
    BOOL DeleteFileW(LPCWSTR fileName) override;
    ULONG_PTR LowLevelQuery(ULONG_PTR request) override;
    DWORD GetFileAttributesW(LPCWSTR fileName) override;
    BOOL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) override;
    BOOL MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName) override;
    HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) override;
    BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData) override;
    BOOL FindClose(HANDLE findFile) override;
    BOOL RemoveFileW(LPCWSTR fileName) override;
};
