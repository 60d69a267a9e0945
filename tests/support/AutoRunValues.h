#pragma once
// The prefix's two AutoRun values in the native registry view, read and put back exactly (an absent key
// or value absent again), for the tests that let the product turn AutoRun off.
#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

constexpr wchar_t kAutoRunMappingKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\Autorun.inf";
constexpr wchar_t kAutoRunPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kAutoRunPolicyValue[] = L"NoDriveTypeAutoRun";

struct AutoRunValue {
    AutoRunValue(const wchar_t* keyPath, const wchar_t* valueName) : key(keyPath), name(valueName) {}  // absent
    const wchar_t* key;
    const wchar_t* name;  // nullptr: the default value
    bool keyPresent = false, present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const AutoRunValue& o) const {
        return keyPresent == o.keyPresent && present == o.present && (!present || (type == o.type && data == o.data));
    }
};

inline REGSAM NativeRegistryView() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 ? KEY_WOW64_64KEY : 0;
}

inline AutoRunValue AutoRunPresent(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, size_t size) {
    AutoRunValue value(key, name);
    value.keyPresent = value.present = true;
    value.type = type;
    value.data.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
    return value;
}
inline AutoRunValue AutoRunDword(const wchar_t* key, const wchar_t* name, DWORD number) {
    return AutoRunPresent(key, name, REG_DWORD, &number, sizeof number);
}
inline AutoRunValue AutoRunString(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    return AutoRunPresent(key, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

inline AutoRunValue ReadAutoRunValue(const wchar_t* key, const wchar_t* name) {
    AutoRunValue value(key, name);
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | NativeRegistryView(), &opened) != ERROR_SUCCESS)
        return value;
    value.keyPresent = true;
    value.data.resize(4096);
    DWORD size = static_cast<DWORD>(value.data.size());
    value.present = RegQueryValueExW(opened, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
    value.data.resize(value.present ? size : 0);
    RegCloseKey(opened);
    return value;
}

inline std::vector<AutoRunValue> ReadAutoRunValues() {
    return {ReadAutoRunValue(kAutoRunMappingKey, nullptr), ReadAutoRunValue(kAutoRunPolicyKey, kAutoRunPolicyValue)};
}

// Makes the key and value what `value` says; a key that should be absent goes (once it is empty).
inline void WriteAutoRunValue(const AutoRunValue& value) {
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, value.key, 0, nullptr, 0, KEY_ALL_ACCESS | NativeRegistryView(), nullptr,
                        &opened, nullptr) != ERROR_SUCCESS)
        return;
    if (value.present)
        RegSetValueExW(opened, value.name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    else
        RegDeleteValueW(opened, value.name);
    auto deleteKey = reinterpret_cast<LONG(WINAPI*)(HANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    if (!value.keyPresent && deleteKey) deleteKey(opened);
    RegCloseKey(opened);
}

// Puts both values back as they were when it was made.
class AutoRunValuesGuard {
public:
    AutoRunValuesGuard() : saved_(ReadAutoRunValues()) {}
    ~AutoRunValuesGuard() {
        for (const AutoRunValue& value : saved_) WriteAutoRunValue(value);
    }
    AutoRunValuesGuard(const AutoRunValuesGuard&) = delete;
    AutoRunValuesGuard& operator=(const AutoRunValuesGuard&) = delete;

private:
    std::vector<AutoRunValue> saved_;
};

}  // namespace testsupport
