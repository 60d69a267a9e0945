#include "platform/access/SKWinApiRegistry.h"

LONG SKWinApiRegistry::RegCloseKey(HKEY key) { return ::RegCloseKey(key); }

LONG SKWinApiRegistry::RegDeleteKeyW(HKEY key, LPCWSTR subKey) { return ::RegDeleteKeyW(key, subKey); }

LONG SKWinApiRegistry::RegDeleteValueW(HKEY key, LPCWSTR valueName) { return ::RegDeleteValueW(key, valueName); }

LONG SKWinApiRegistry::RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                       REGSAM desired, LPSECURITY_ATTRIBUTES securityAttributes, PHKEY result,
                                       LPDWORD disposition) {
    return ::RegCreateKeyExW(key, subKey, reserved, keyClass, options, desired, securityAttributes, result,
                             disposition);
}

LONG SKWinApiRegistry::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    return ::RegOpenKeyExW(key, subKey, options, desired, result);
}

LONG SKWinApiRegistry::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                                     LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
    return ::RegEnumKeyExW(key, index, name, nameLength, reserved, keyClass, classLength, lastWriteTime);
}

LONG SKWinApiRegistry::RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD nameLength) {
    return ::RegEnumKeyW(key, index, name, nameLength);
}

LONG SKWinApiRegistry::RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                                     LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataLength) {
    return ::RegEnumValueW(key, index, valueName, valueNameLength, reserved, type, data, dataLength);
}

LONG SKWinApiRegistry::RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                        LPDWORD dataLength) {
    return ::RegQueryValueExW(key, valueName, reserved, type, data, dataLength);
}

LONG SKWinApiRegistry::RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                        LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                        LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                        LPDWORD securityDescriptorLength, PFILETIME lastWriteTime) {
    return ::RegQueryInfoKeyW(key, keyClass, classLength, reserved, subKeys, maxSubKeyLength, maxClassLength, values,
                              maxValueNameLength, maxValueLength, securityDescriptorLength, lastWriteTime);
}

LONG SKWinApiRegistry::RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                                      DWORD dataLength) {
    return ::RegSetValueExW(key, valueName, reserved, type, data, dataLength);
}

LONG SKWinApiRegistry::RegRestoreKeyW(HKEY key, LPCWSTR fileName, DWORD flags) {
    return ::RegRestoreKeyW(key, fileName, flags);
}
