#pragma once
#include <windows.h>

// For a 32-bit process on 64-bit Windows: turns off the System32 -> SysWOW64 file redirection for a
// scope, so that a path names the file that a 64-bit svchost.exe really loads. Does nothing where
// there is no redirection (32-bit Windows, or a system without the switch).
// Only file operations on given paths may run inside the scope: a DLL the system loads meanwhile
// would come from the wrong folder.
class FileSystemRedirectionGuard {
public:
    FileSystemRedirectionGuard();
    ~FileSystemRedirectionGuard();
    FileSystemRedirectionGuard(const FileSystemRedirectionGuard&) = delete;
    FileSystemRedirectionGuard& operator=(const FileSystemRedirectionGuard&) = delete;

private:
    PVOID oldValue_ = nullptr;
    bool disabled_ = false;
};
