#pragma once
#include "plugin_host/PluginInterface.h"

// The runtime object every plug-in receives from Register: the host's folders, the WOW64 answer and
// the host's file and registry access layer, so that a plug-in's file and registry work goes through
// the same access mode as the host's own. It keeps no state but a reference count; everything else is
// looked up in the process-wide environment and access layer on each call.
class SKPluginRuntime final : public IPluginRuntimeV1 {
public:
    SKPluginRuntime() = default;
    ~SKPluginRuntime() = default;
    SKPluginRuntime(const SKPluginRuntime&) = delete;
    SKPluginRuntime& operator=(const SKPluginRuntime&) = delete;

    // How many references plug-ins have taken (never lowered: the host owns the object).
    LONG ReferenceCount() const { return references_; }

    // IPluginUnknown
    int SK_PLUGIN_CALL GetId() override;
    const wchar_t* SK_PLUGIN_CALL GetName() override;
    int SK_PLUGIN_CALL QueryInterface(const wchar_t* name, void** out) override;
    void SK_PLUGIN_CALL Release() override;

    // IPluginRuntimeV0
    int SK_PLUGIN_CALL IsWow64() override;
    int SK_PLUGIN_CALL GetLowLevelMode() override;
    const wchar_t* SK_PLUGIN_CALL GetBaseFolder() override;
    const wchar_t* SK_PLUGIN_CALL GetPatternFolder() override;
    const wchar_t* SK_PLUGIN_CALL GetProfileFolder() override;
    const wchar_t* SK_PLUGIN_CALL GetLogFolder() override;
    HANDLE SK_PLUGIN_CALL CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                      LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                      DWORD flagsAndAttributes, HANDLE templateFile) override;
    BOOL SK_PLUGIN_CALL CloseHandle(HANDLE handle) override;
    HANDLE SK_PLUGIN_CALL OpenLockFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                        LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                        DWORD flagsAndAttributes, HANDLE templateFile) override;
    BOOL SK_PLUGIN_CALL CloseLockFile(HANDLE handle) override;
    BOOL SK_PLUGIN_CALL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                                 LPOVERLAPPED overlapped) override;
    DWORD SK_PLUGIN_CALL SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod) override;
    DWORD SK_PLUGIN_CALL GetFileSize(HANDLE file, LPDWORD sizeHigh) override;
    BOOL SK_PLUGIN_CALL DeleteFileW(LPCWSTR fileName) override;
    DWORD SK_PLUGIN_CALL GetFileAttributesW(LPCWSTR fileName) override;
    BOOL SK_PLUGIN_CALL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) override;
    BOOL SK_PLUGIN_CALL MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName) override;
    HANDLE SK_PLUGIN_CALL FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) override;
    BOOL SK_PLUGIN_CALL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW findData) override;
    BOOL SK_PLUGIN_CALL FindClose(HANDLE find) override;
    BOOL SK_PLUGIN_CALL RemoveFileW(LPCWSTR fileName) override;
    LONG SK_PLUGIN_CALL RegCloseKey(HKEY key) override;
    LONG SK_PLUGIN_CALL RegDeleteKeyW(HKEY key, LPCWSTR subKey) override;
    LONG SK_PLUGIN_CALL RegDeleteValueW(HKEY key, LPCWSTR valueName) override;
    LONG SK_PLUGIN_CALL RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                        REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result,
                                        LPDWORD disposition) override;
    LONG SK_PLUGIN_CALL RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) override;
    LONG SK_PLUGIN_CALL RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                                      LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) override;
    LONG SK_PLUGIN_CALL RegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD nameLength) override;
    LONG SK_PLUGIN_CALL RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) override;
    LONG SK_PLUGIN_CALL RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                         LPDWORD dataSize) override;
    LONG SK_PLUGIN_CALL RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                         LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) override;
    LONG SK_PLUGIN_CALL RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                                       DWORD dataSize) override;
    LONG SK_PLUGIN_CALL RegRestoreKeyW(HKEY key, LPCWSTR file, DWORD flags) override;

    // IPluginRuntimeV1
    const wchar_t* SK_PLUGIN_CALL GetExtraFolder() override;

private:
    volatile LONG references_ = 0;
};
