#pragma once
#include <windows.h>

#include <string>
#include <vector>

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

    // The names of the open key's subkeys, in the registry's order; the system's result code of the first
    // failing enumeration step, ERROR_SUCCESS once the list is complete.
    LONG SubkeyNames(std::vector<std::wstring>& names) const {
        names.clear();
        wchar_t name[256];  // the longest key name the registry allows, with its terminator
        for (DWORD index = 0;; ++index) {
            DWORD length = 256;
            const LONG result = RegEnumKeyExW(Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
            if (result != ERROR_SUCCESS) return result;
            names.emplace_back(name, length);
        }
    }
};
