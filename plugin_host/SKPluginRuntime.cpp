#include "plugin_host/SKPluginRuntime.h"

#include "platform/access/SKApi.h"
#include "platform/system/SKEnvironment.h"
#include "platform/system/Wow64.h"

namespace {

// Interface names are plain ASCII; folding only A-Z keeps the match independent of the user's locale.
bool EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        wchar_t x = (*a >= L'a' && *a <= L'z') ? static_cast<wchar_t>(*a - L'a' + L'A') : *a;
        wchar_t y = (*b >= L'a' && *b <= L'z') ? static_cast<wchar_t>(*b - L'a' + L'A') : *b;
        if (x != y) return false;
        if (x == L'\0') return true;
    }
}

// Looked up on every call: the environment's tear-down may have replaced the access object.
SKApiFile* File() { return SKApi::Instance()->file; }
SKApiRegistry* Registry() { return SKApi::Instance()->registry; }

}  // namespace

int SKPluginRuntime::GetId() { return 0; }

const wchar_t* SKPluginRuntime::GetName() { return L""; }

int SKPluginRuntime::QueryInterface(const wchar_t* name, void** out) {
    if (!out) return 0;
    if (name && (EqualsIgnoringAsciiCase(name, kInterfacePluginRuntimeV0) ||
                 EqualsIgnoringAsciiCase(name, kInterfacePluginRuntimeV1))) {
        InterlockedIncrement(&references_);
        // Version 1 only appends to version 0, so one address serves both names.
        *out = static_cast<IPluginRuntimeV1*>(this);
        return 1;
    }
    *out = nullptr;
    return 0;
}

void SKPluginRuntime::Release() {}

int SKPluginRuntime::IsWow64() { return ::IsWow64() ? 1 : 0; }

int SKPluginRuntime::GetLowLevelMode() { return static_cast<int>(SKEnvironment::Instance()->LowLevelMode()); }

const wchar_t* SKPluginRuntime::GetBaseFolder() { return SKEnvironment::Instance()->BaseFolder().c_str(); }

const wchar_t* SKPluginRuntime::GetPatternFolder() { return SKEnvironment::Instance()->PatternFolder().c_str(); }

const wchar_t* SKPluginRuntime::GetProfileFolder() { return SKEnvironment::Instance()->ProfileFolder().c_str(); }

const wchar_t* SKPluginRuntime::GetLogFolder() { return SKEnvironment::Instance()->LogFolder().c_str(); }

const wchar_t* SKPluginRuntime::GetExtraFolder() { return SKEnvironment::Instance()->ExtraFolder().c_str(); }

HANDLE SKPluginRuntime::CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                    LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                    DWORD flagsAndAttributes, HANDLE templateFile) {
    return File()->CreateFileW(fileName, desiredAccess, shareMode, security, creationDisposition, flagsAndAttributes,
                               templateFile);
}

BOOL SKPluginRuntime::CloseHandle(HANDLE handle) { return File()->CloseHandle(handle); }

HANDLE SKPluginRuntime::OpenLockFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                      LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                      DWORD flagsAndAttributes, HANDLE templateFile) {
    return File()->OpenLockFileW(fileName, desiredAccess, shareMode, security, creationDisposition,
                                 flagsAndAttributes, templateFile);
}

BOOL SKPluginRuntime::CloseLockFile(HANDLE handle) { return File()->CloseLockFile(handle); }

BOOL SKPluginRuntime::ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                               LPOVERLAPPED overlapped) {
    return File()->ReadFile(file, buffer, bytesToRead, bytesRead, overlapped);
}

DWORD SKPluginRuntime::SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
    return File()->SetFilePointer(file, distance, distanceHigh, moveMethod);
}

DWORD SKPluginRuntime::GetFileSize(HANDLE file, LPDWORD sizeHigh) { return File()->GetFileSize(file, sizeHigh); }

BOOL SKPluginRuntime::DeleteFileW(LPCWSTR fileName) { return File()->DeleteFileW(fileName); }

DWORD SKPluginRuntime::GetFileAttributesW(LPCWSTR fileName) { return File()->GetFileAttributesW(fileName); }

BOOL SKPluginRuntime::CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) {
    return File()->CopyFileW(existingFileName, newFileName, failIfExists);
}

BOOL SKPluginRuntime::MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName) {
    return File()->MoveFileW(existingFileName, newFileName);
}

HANDLE SKPluginRuntime::FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    return File()->FindFirstFileW(fileName, findData);
}

BOOL SKPluginRuntime::FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW findData) {
    return File()->FindNextFileW(find, findData);
}

BOOL SKPluginRuntime::FindClose(HANDLE find) { return File()->FindClose(find); }

BOOL SKPluginRuntime::RemoveFileW(LPCWSTR fileName) { return File()->RemoveFileW(fileName); }

LONG SKPluginRuntime::RegCloseKey(HKEY key) { return Registry()->RegCloseKey(key); }

LONG SKPluginRuntime::RegDeleteKeyW(HKEY key, LPCWSTR subKey) { return Registry()->RegDeleteKeyW(key, subKey); }

LONG SKPluginRuntime::RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    return Registry()->RegDeleteValueW(key, valueName);
}

LONG SKPluginRuntime::RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                      REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result,
                                      LPDWORD disposition) {
    return Registry()->RegCreateKeyExW(key, subKey, reserved, keyClass, options, desired, security, result,
                                       disposition);
}

LONG SKPluginRuntime::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    return Registry()->RegOpenKeyExW(key, subKey, options, desired, result);
}

LONG SKPluginRuntime::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                                    LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
    return Registry()->RegEnumKeyExW(key, index, name, nameLength, reserved, keyClass, classLength, lastWriteTime);
}

LONG SKPluginRuntime::RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD nameLength) {
    return Registry()->RegEnumKeyW(key, index, name, nameLength);
}

LONG SKPluginRuntime::RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                                    LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    return Registry()->RegEnumValueW(key, index, valueName, valueNameLength, reserved, type, data, dataSize);
}

LONG SKPluginRuntime::RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                       LPDWORD dataSize) {
    return Registry()->RegQueryValueExW(key, valueName, reserved, type, data, dataSize);
}

LONG SKPluginRuntime::RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                       LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                       LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                       LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
    return Registry()->RegQueryInfoKeyW(key, keyClass, classLength, reserved, subKeys, maxSubKeyLength,
                                        maxClassLength, values, maxValueNameLength, maxValueLength,
                                        securityDescriptorSize, lastWriteTime);
}

LONG SKPluginRuntime::RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                                     DWORD dataSize) {
    return Registry()->RegSetValueExW(key, valueName, reserved, type, data, dataSize);
}

LONG SKPluginRuntime::RegRestoreKeyW(HKEY key, LPCWSTR file, DWORD flags) {
    return Registry()->RegRestoreKeyW(key, file, flags);
}
