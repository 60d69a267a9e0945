#pragma once
#include <windows.h>

#include <string>

#include "platform/win32/OwnedHandle.h"

struct RegistryKeyTraits {
    using Type = HKEY;
    static bool IsNone(HKEY key) { return key == nullptr; }
    static HKEY None() { return nullptr; }
    static bool Release(HKEY key) { return RegCloseKey(key) == ERROR_SUCCESS; }
};

// An open registry key.
class RegistryKey : public OwnedHandle<RegistryKeyTraits> {
public:
    using OwnedHandle::OwnedHandle;

    // Closes any key held before; returns the system's result code.
    LONG Open(HKEY root, const std::wstring& path, REGSAM access) {
        return RegOpenKeyExW(root, path.c_str(), 0, access, Receive());
    }
    // Opens, or creates with default security, a non-volatile key; closes any key held before.
    // `disposition`, when given, tells which (REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY).
    LONG Create(HKEY root, const std::wstring& path, REGSAM access, DWORD* disposition = nullptr) {
        return RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, Receive(),
                               disposition);
    }
    bool IsOpen() const { return IsValid(); }
};
