#include "platform/system/FileSystemRedirectionGuard.h"

#include "platform/system/Wow64.h"

namespace {
using DisableFn = BOOL(WINAPI*)(PVOID*);

FARPROC Kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}
}  // namespace

FileSystemRedirectionGuard::FileSystemRedirectionGuard() {
    if (!IsWow64()) return;
    // Both halves are looked up before anything changes: redirection is turned off only when it can
    // be turned on again.
    auto disable = reinterpret_cast<DisableFn>(
        reinterpret_cast<void*>(Kernel32Function("Wow64DisableWow64FsRedirection")));
    auto revert = reinterpret_cast<RevertFn>(
        reinterpret_cast<void*>(Kernel32Function("Wow64RevertWow64FsRedirection")));
    if (disable && revert && disable(&oldValue_)) revert_ = revert;
}

FileSystemRedirectionGuard::~FileSystemRedirectionGuard() {
    if (!revert_) return;
    // The error of the file operation inside the scope outlives the scope.
    const DWORD error = GetLastError();
    revert_(oldValue_);
    SetLastError(error);
}
