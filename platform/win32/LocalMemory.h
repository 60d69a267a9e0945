#pragma once
#include <windows.h>

#include "platform/win32/OwnedHandle.h"

// Memory the system allocated for the caller with LocalAlloc (a security descriptor of
// GetSecurityInfo or ConvertStringSecurityDescriptorToSecurityDescriptorW, the list of
// CommandLineToArgvW), freed with LocalFree. `T` is the pointer type the function hands out.
template <typename T>
struct LocalMemoryTraits {
    using Type = T;
    static bool IsNone(T memory) { return memory == nullptr; }
    static T None() { return nullptr; }
    static bool Release(T memory) { return LocalFree(reinterpret_cast<HLOCAL>(memory)) == nullptr; }
};
template <typename T>
using LocalMemory = OwnedHandle<LocalMemoryTraits<T>>;
