#pragma once
#include <windows.h>

// For a 32-bit process on 64-bit Windows: turns off the System32 -> SysWOW64 file redirection of the
// calling thread for a scope, so that a path names the file that a 64-bit svchost.exe really loads.
// Does nothing where there is no redirection (32-bit or 64-bit processes outside WOW64, or a system
// without the switch, such as 32-bit XP).
// Only file operations on given paths may run inside the scope: a DLL that the system loads meanwhile
// (also one that an API loads behind the caller's back, such as a trust provider or a crypto module)
// would come from the 64-bit folder and fail, and a failed delayed load stays failed.
class FileSystemRedirectionGuard {
public:
    FileSystemRedirectionGuard();
    ~FileSystemRedirectionGuard();
    FileSystemRedirectionGuard(const FileSystemRedirectionGuard&) = delete;
    FileSystemRedirectionGuard& operator=(const FileSystemRedirectionGuard&) = delete;

private:
    using RevertFn = BOOL(WINAPI*)(PVOID);
    RevertFn revert_ = nullptr;  // set only while redirection is off
    PVOID oldValue_ = nullptr;
};
