#pragma once
#include <windows.h>

#include "platform/win32/OwnedHandle.h"

// A kernel handle: file, device, event, thread, process, snapshot. Both null and INVALID_HANDLE_VALUE
// mean "none", since Win32 uses either depending on the function.
struct KernelHandleTraits {
    using Type = HANDLE;
    static bool IsNone(HANDLE handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }
    static HANDLE None() { return nullptr; }
    static bool Release(HANDLE handle) { return CloseHandle(handle) != FALSE; }
};
using KernelHandle = OwnedHandle<KernelHandleTraits>;
