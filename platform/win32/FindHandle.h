#pragma once
#include <windows.h>

#include "platform/win32/OwnedHandle.h"

// A file search of FindFirstFileW, ended with FindClose.
struct FindHandleTraits {
    using Type = HANDLE;
    static bool IsNone(HANDLE handle) { return handle == INVALID_HANDLE_VALUE || handle == nullptr; }
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static bool Release(HANDLE handle) { return FindClose(handle) != FALSE; }
};
using FindHandle = OwnedHandle<FindHandleTraits>;
