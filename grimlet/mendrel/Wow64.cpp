#include "grimlet/mendrel/Wow64.h"

#include <windows.h>

bool RunsUnderWow64() {
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    auto isWow64 = kernel32 ? reinterpret_cast<IsWow64Fn>(
                                  reinterpret_cast<void*>(GetProcAddress(kernel32, "IsWow64Process")))
                            : nullptr;
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}
