#pragma once
// A stand-in host for driving plug-in DLLs through the binary contract in tests: it plays
// IPluginHelper (registration as the real host does it), IPluginReporter (records what arrives) and
// the runtime object, and loads a DLL by full path.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "plugin_host/PluginInterface.h"

namespace testhost {

// Answers both runtime versions with itself; every service forwards to the system.
class TestPluginRuntime final : public IPluginRuntimeV1 {
public:
    TestPluginRuntime() = default;
    ~TestPluginRuntime() = default;
    std::vector<std::wstring> queried;  // names asked for through QueryInterface

    int SK_PLUGIN_CALL GetId() override { return 0; }
    const wchar_t* SK_PLUGIN_CALL GetName() override { return L""; }
    int SK_PLUGIN_CALL QueryInterface(const wchar_t* name, void** out) override;
    void SK_PLUGIN_CALL Release() override {}
    int SK_PLUGIN_CALL IsWow64() override { return 0; }
    int SK_PLUGIN_CALL GetLowLevelMode() override { return 0; }
    const wchar_t* SK_PLUGIN_CALL GetBaseFolder() override { return L""; }
    const wchar_t* SK_PLUGIN_CALL GetPatternFolder() override { return L""; }
    const wchar_t* SK_PLUGIN_CALL GetProfileFolder() override { return L""; }
    const wchar_t* SK_PLUGIN_CALL GetLogFolder() override { return L""; }
    HANDLE SK_PLUGIN_CALL CreateFileW(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f,
                                      HANDLE g) override { return ::CreateFileW(a, b, c, d, e, f, g); }
    BOOL SK_PLUGIN_CALL CloseHandle(HANDLE a) override { return ::CloseHandle(a); }
    HANDLE SK_PLUGIN_CALL OpenLockFileW(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f,
                                        HANDLE g) override { return ::CreateFileW(a, b, c, d, e, f, g); }
    BOOL SK_PLUGIN_CALL CloseLockFile(HANDLE a) override { return ::CloseHandle(a); }
    BOOL SK_PLUGIN_CALL ReadFile(HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e) override {
        return ::ReadFile(a, b, c, d, e);
    }
    DWORD SK_PLUGIN_CALL SetFilePointer(HANDLE a, LONG b, PLONG c, DWORD d) override { return ::SetFilePointer(a, b, c, d); }
    DWORD SK_PLUGIN_CALL GetFileSize(HANDLE a, LPDWORD b) override { return ::GetFileSize(a, b); }
    BOOL SK_PLUGIN_CALL DeleteFileW(LPCWSTR a) override { return ::DeleteFileW(a); }
    DWORD SK_PLUGIN_CALL GetFileAttributesW(LPCWSTR a) override { return ::GetFileAttributesW(a); }
    BOOL SK_PLUGIN_CALL CopyFileW(LPCWSTR a, LPCWSTR b, BOOL c) override { return ::CopyFileW(a, b, c); }
    BOOL SK_PLUGIN_CALL MoveFileW(LPCWSTR a, LPCWSTR b) override { return ::MoveFileW(a, b); }
    HANDLE SK_PLUGIN_CALL FindFirstFileW(LPCWSTR a, LPWIN32_FIND_DATAW b) override { return ::FindFirstFileW(a, b); }
    BOOL SK_PLUGIN_CALL FindNextFileW(HANDLE a, LPWIN32_FIND_DATAW b) override { return ::FindNextFileW(a, b); }
    BOOL SK_PLUGIN_CALL FindClose(HANDLE a) override { return ::FindClose(a); }
    BOOL SK_PLUGIN_CALL RemoveFileW(LPCWSTR a) override { return ::DeleteFileW(a); }
    LONG SK_PLUGIN_CALL RegCloseKey(HKEY a) override { return ::RegCloseKey(a); }
    LONG SK_PLUGIN_CALL RegDeleteKeyW(HKEY a, LPCWSTR b) override { return ::RegDeleteKeyW(a, b); }
    LONG SK_PLUGIN_CALL RegDeleteValueW(HKEY a, LPCWSTR b) override { return ::RegDeleteValueW(a, b); }
    LONG SK_PLUGIN_CALL RegCreateKeyExW(HKEY a, LPCWSTR b, DWORD c, LPWSTR d, DWORD e, REGSAM f,
                                        LPSECURITY_ATTRIBUTES g, PHKEY h, LPDWORD i) override {
        return ::RegCreateKeyExW(a, b, c, d, e, f, g, h, i);
    }
    LONG SK_PLUGIN_CALL RegOpenKeyExW(HKEY a, LPCWSTR b, DWORD c, REGSAM d, PHKEY e) override {
        return ::RegOpenKeyExW(a, b, c, d, e);
    }
    LONG SK_PLUGIN_CALL RegEnumKeyExW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPWSTR f, LPDWORD g,
                                      PFILETIME h) override { return ::RegEnumKeyExW(a, b, c, d, e, f, g, h); }
    LONG SK_PLUGIN_CALL RegEnumKeyW(HKEY a, DWORD b, LPWSTR c, DWORD d) override { return ::RegEnumKeyW(a, b, c, d); }
    LONG SK_PLUGIN_CALL RegEnumValueW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPDWORD f, LPBYTE g,
                                      LPDWORD h) override { return ::RegEnumValueW(a, b, c, d, e, f, g, h); }
    LONG SK_PLUGIN_CALL RegQueryValueExW(HKEY a, LPCWSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) override {
        return ::RegQueryValueExW(a, b, c, d, e, f);
    }
    LONG SK_PLUGIN_CALL RegQueryInfoKeyW(HKEY a, LPWSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPDWORD f, LPDWORD g,
                                         LPDWORD h, LPDWORD i, LPDWORD j, LPDWORD k, PFILETIME l) override {
        return ::RegQueryInfoKeyW(a, b, c, d, e, f, g, h, i, j, k, l);
    }
    LONG SK_PLUGIN_CALL RegSetValueExW(HKEY a, LPCWSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) override {
        return ::RegSetValueExW(a, b, c, d, e, f);
    }
    LONG SK_PLUGIN_CALL RegRestoreKeyW(HKEY a, LPCWSTR b, DWORD c) override { return ::RegRestoreKeyW(a, b, c); }
    const wchar_t* SK_PLUGIN_CALL GetExtraFolder() override { return L""; }
};

// Registers handlers the way the product host does: asks for the pre-general, general and file
// handler names in that order, refuses a name already taken for the kind, calls Initialize, and
// numbers accepted handlers from 1. Keeps one reference per accepted handler and releases them all
// when it is destroyed.
class TestPluginHelper final : public IPluginHelper {
public:
    TestPluginHelper() = default;
    ~TestPluginHelper() override;
    TestPluginHelper(const TestPluginHelper&) = delete;
    TestPluginHelper& operator=(const TestPluginHelper&) = delete;

    int SK_PLUGIN_CALL Register(IPluginUnknown* handler, int* pluginId, IPluginUnknown** runtime) override;
    void SK_PLUGIN_CALL RegisterTypeName(const wchar_t* name, int* typeId) override;

    struct Accepted {
        IPluginUnknown* handler;       // the pointer the handler's QueryInterface gave
        std::wstring kindName;         // the interface name it answered
        std::wstring name;
        int pluginId;
    };
    const std::vector<Accepted>& Handlers() const { return accepted_; }
    IPluginGeneralHandler* GeneralHandler(std::size_t index = 0) const;
    // Drops the handlers (one Release each) before the DLL that holds their code goes.
    void ReleaseHandlers();

    int registerCalls = 0;
    int initializeCalls = 0;
    std::vector<std::wstring> typeNamesAsked;
    bool refuseNext = false;  // refuse the next offered handler after querying it, as for a taken name
    TestPluginRuntime runtime;

private:
    std::vector<Accepted> accepted_;
    std::map<std::wstring, int> typeIds_;
    int nextPluginId_ = 1;
};

// Copies what the plug-in reports.
class TestPluginReporter final : public IPluginReporter {
public:
    struct Found {
        int pluginId, id, typeId;
        std::wstring name, threatClass, threatName;
    };
    struct CleanResult {
        int pluginId, id, outcome;
    };
    std::vector<Found> found;
    std::vector<CleanResult> cleaned;

    void SK_PLUGIN_CALL ReportFound(int pluginId, IPluginFound* item) override;
    void SK_PLUGIN_CALL ReportCleanResult(int pluginId, IPluginFound* item, int outcome) override;
};

// A plug-in DLL loaded by full path for the scope.
class PluginDll {
public:
    explicit PluginDll(const std::wstring& path);
    ~PluginDll();
    PluginDll(const PluginDll&) = delete;
    PluginDll& operator=(const PluginDll&) = delete;
    HMODULE Module() const { return module_; }
    SK_GetPluginInstanceFn Factory() const;

private:
    HMODULE module_;
};

// The grimlet.dll under test (the shipped build on the i686 tier).
std::wstring GrimletDllPath();

}  // namespace testhost
