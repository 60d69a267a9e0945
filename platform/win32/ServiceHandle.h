#pragma once
#include <windows.h>

#include "platform/win32/OwnedHandle.h"

// The service control manager or one service, ended with CloseServiceHandle.
struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static bool IsNone(SC_HANDLE handle) { return handle == nullptr; }
    static SC_HANDLE None() { return nullptr; }
    static bool Release(SC_HANDLE handle) { return CloseServiceHandle(handle) != FALSE; }
};
using ServiceHandle = OwnedHandle<ServiceHandleTraits>;
