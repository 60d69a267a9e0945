#pragma once
// The prefix's two AutoRun values in the native registry view, read and put back exactly (an absent
// key or value is made absent again): for the tests that let the product turn AutoRun off, and those
// that set a starting state of their own.
#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

struct AutoRunValue {
    // Absent, key and value, until said otherwise.
    AutoRunValue(const wchar_t* keyPath, const wchar_t* valueName) : key(keyPath), name(valueName) {}

    const wchar_t* key;
    const wchar_t* name;  // nullptr: the default value
    bool keyPresent = false;
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const AutoRunValue& other) const {
        return keyPresent == other.keyPresent && present == other.present &&
               (!present || (type == other.type && data == other.data));
    }
};

inline REGSAM NativeRegistryView() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 ? KEY_WOW64_64KEY : 0;
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

// Makes the key and value what `value` says; a key that should be absent goes with everything in it.
inline void WriteAutoRunValue(const AutoRunValue& value) {
    HKEY opened = nullptr;
    if (!value.keyPresent) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, value.key, 0, DELETE | KEY_ALL_ACCESS | NativeRegistryView(), &opened) !=
            ERROR_SUCCESS)
            return;
        using DeleteKeyFn = LONG(WINAPI*)(HANDLE);
        auto deleteKey = reinterpret_cast<DeleteKeyFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
        RegDeleteValueW(opened, value.name);
        if (deleteKey) deleteKey(opened);
        RegCloseKey(opened);
        return;
    }
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, value.key, 0, nullptr, 0, KEY_ALL_ACCESS | NativeRegistryView(), nullptr,
                        &opened, nullptr) != ERROR_SUCCESS)
        return;
    if (value.present)
        RegSetValueExW(opened, value.name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    else
        RegDeleteValueW(opened, value.name);
    RegCloseKey(opened);
}

inline AutoRunValue AutoRunDword(const wchar_t* key, const wchar_t* name, DWORD number) {
    AutoRunValue value(key, name);
    value.keyPresent = value.present = true;
    value.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<BYTE>(number >> shift));
    return value;
}

inline AutoRunValue AutoRunString(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    AutoRunValue value(key, name);
    value.keyPresent = value.present = true;
    value.type = REG_SZ;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

constexpr wchar_t kAutoRunMappingKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\Autorun.inf";
constexpr wchar_t kAutoRunPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kAutoRunPolicyValue[] = L"NoDriveTypeAutoRun";

// Both values as they are now.
inline std::vector<AutoRunValue> ReadAutoRunValues() {
    return {ReadAutoRunValue(kAutoRunMappingKey, nullptr), ReadAutoRunValue(kAutoRunPolicyKey, kAutoRunPolicyValue)};
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
    const std::vector<AutoRunValue>& Saved() const { return saved_; }

private:
    std::vector<AutoRunValue> saved_;
};

}  // namespace testsupport
