#pragma once
#include <windows.h>

#include "platform/win32/KernelHandle.h"

// An access token: a kernel handle, opened from a process.
class TokenHandle : public KernelHandle {
public:
    using KernelHandle::KernelHandle;

    // Closes any token held before.
    bool OpenOf(HANDLE process, DWORD access) { return OpenProcessToken(process, access, Receive()) != FALSE; }
    bool OpenOfThisProcess(DWORD access) { return OpenOf(GetCurrentProcess(), access); }
};
