#pragma once
#include "platform/access/SKApiRegistry.h"

// The Win32 access mode for the registry: each operation is the Win32 function of the same name.
class SKWinApiRegistry : public SKApiRegistry {
public:
    LONG RegCloseKey(HKEY key) override;
    LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) override;
    LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) override;
    LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM desired,
                         LPSECURITY_ATTRIBUTES securityAttributes, PHKEY result, LPDWORD disposition) override;
    LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) override;
    LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR keyClass,
                       LPDWORD classLength, PFILETIME lastWriteTime) override;
    LONG RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD nameLength) override;
    LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength, LPDWORD reserved,
                       LPDWORD type, LPBYTE data, LPDWORD dataLength) override;
    LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                          LPDWORD dataLength) override;
    LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved, LPDWORD subKeys,
                          LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                          LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptorLength,
                          PFILETIME lastWriteTime) override;
    LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                        DWORD dataLength) override;
    LONG RegRestoreKeyW(HKEY key, LPCWSTR fileName, DWORD flags) override;
};
