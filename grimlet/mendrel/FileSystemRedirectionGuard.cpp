#include "grimlet/mendrel/FileSystemRedirectionGuard.h"

#include "grimlet/mendrel/Wow64.h"

namespace {
using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);

FARPROC Kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}
}  // namespace

FileSystemRedirectionGuard::FileSystemRedirectionGuard() {
    if (!RunsUnderWow64()) return;
    auto disable = reinterpret_cast<DisableFn>(
        reinterpret_cast<void*>(Kernel32Function("Wow64DisableWow64FsRedirection")));
    disabled_ = disable && disable(&oldValue_);
}

FileSystemRedirectionGuard::~FileSystemRedirectionGuard() {
    if (!disabled_) return;
    auto revert =
        reinterpret_cast<RevertFn>(reinterpret_cast<void*>(Kernel32Function("Wow64RevertWow64FsRedirection")));
    if (revert) revert(oldValue_);
}
