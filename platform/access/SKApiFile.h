#pragma once
#include <windows.h>

// The file half of the access layer: every file operation of the scan and clean code, and of plug-ins
// through the runtime, goes through one of these so that another access mode can be put under all of
// them at once. Each operation takes and returns exactly what the Win32 function of the same name does.
// The slot order is fixed: the plug-in runtime forwards to it one for one.
class SKApiFile {
public:
    virtual HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                               LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                               DWORD flagsAndAttributes, HANDLE templateFile) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    // The second way in, for a file whose normal open was refused; its handle goes to CloseLockFile.
    virtual HANDLE OpenLockFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                 LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                                 DWORD flagsAndAttributes, HANDLE templateFile) = 0;
    virtual BOOL CloseLockFile(HANDLE handle) = 0;
    virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                          LPOVERLAPPED overlapped) = 0;
    virtual DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) = 0;
    virtual DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh) = 0;
    virtual BOOL DeleteFileW(LPCWSTR fileName) = 0;
    // Reserved for a low-level access mode; nothing calls it and plug-ins are not offered it.
    virtual ULONG_PTR LowLevelQuery(ULONG_PTR request) = 0;
    virtual DWORD GetFileAttributesW(LPCWSTR fileName) = 0;
    virtual BOOL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) = 0;
    virtual BOOL MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName) = 0;
    virtual HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) = 0;
    virtual BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData) = 0;
    virtual BOOL FindClose(HANDLE findFile) = 0;
    // A second deletion entry, kept apart so that a different access mode can treat it differently.
    virtual BOOL RemoveFileW(LPCWSTR fileName) = 0;

protected:
    // Never deleted through this interface: the access object owns its implementations by value.
    ~SKApiFile() = default;
};
