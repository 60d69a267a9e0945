#pragma once
#include <windows.h>

// The registry half of the access layer. Each operation takes and returns exactly what the Win32
// function of the same name does; the slot order is fixed because the plug-in runtime forwards to it.
class SKApiRegistry {
public:
    virtual ~SKApiRegistry() = default;
    virtual LONG RegCloseKey(HKEY key) = 0;
    virtual LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) = 0;
    virtual LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) = 0;
    virtual LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                 REGSAM desired, LPSECURITY_ATTRIBUTES securityAttributes, PHKEY result,
                                 LPDWORD disposition) = 0;
    virtual LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) = 0;
    virtual LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                               LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) = 0;
    virtual LONG RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD nameLength) = 0;
    virtual LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                               LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataLength) = 0;
    virtual LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                  LPDWORD dataLength) = 0;
    virtual LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                  LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                  LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                  LPDWORD securityDescriptorLength, PFILETIME lastWriteTime) = 0;
    virtual LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                                DWORD dataLength) = 0;
    virtual LONG RegRestoreKeyW(HKEY key, LPCWSTR fileName, DWORD flags) = 0;
};
