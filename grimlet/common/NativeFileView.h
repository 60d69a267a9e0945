#pragma once
// Service DLLs as the system's 64-bit service hosts see them. Under WOW64 a path into System32 names
// SysWOW64 for this 32-bit process, yet what matters is the file that svchost.exe loads and that
// RunMendrel.exe removes. Only the open (or the attribute read) runs with the redirection off; what is
// then read through the handle needs no change, so no DLL is ever loaded while the redirection is off.
// Where there is no redirection these are plain file calls.
#include <windows.h>

#include <string>

#include "platform/win32/KernelHandle.h"

// GetFileAttributesW on the native file; on failure the system's error is the thread's last error.
DWORD NativeFileAttributes(const std::wstring& path);

// An existing file opened with `access` in the native view, sharing read, write and delete.
class NativeFile {
public:
    NativeFile(const std::wstring& path, DWORD access);
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;

    bool IsOpen() const { return handle_.IsValid(); }
    HANDLE Get() const { return handle_.Get(); }
    // The system's error of a failed open; ERROR_SUCCESS when the file is open.
    DWORD OpenError() const { return openError_; }

private:
    KernelHandle handle_;
    DWORD openError_ = ERROR_SUCCESS;
};
