// A plug-in used only by tests: it reaches the host's runtime exactly as a real plug-in does.
#include <cstring>
#include <string>

#include "plugin_host/PluginInterface.h"
#include "tests/plugin_host/RuntimeProbe.h"

namespace {

IPluginUnknown* g_registeredRuntime = nullptr;
IPluginRuntimeV1* g_runtime = nullptr;

class ProbeHandler final : public IPluginGeneralHandler {
public:
    int SK_PLUGIN_CALL GetId() override { return id; }
    const wchar_t* SK_PLUGIN_CALL GetName() override { return L"RUNTIME PROBE"; }
    int SK_PLUGIN_CALL QueryInterface(const wchar_t* name, void** out) override {
        if (name && wcscmp(name, kInterfacePluginGeneralHandler) == 0) {
            ++references;
            *out = static_cast<IPluginGeneralHandler*>(this);
            return 1;
        }
        *out = nullptr;
        return 0;
    }
    void SK_PLUGIN_CALL Release() override { --references; }
    int SK_PLUGIN_CALL Initialize() override { return 1; }
    void SK_PLUGIN_CALL SetReporter(IPluginReporter*) override {}
    void SK_PLUGIN_CALL Scan() override {}
    void SK_PLUGIN_CALL Clean(const int*, unsigned int) override {}

    int id = 0;
    int references = 0;
};

ProbeHandler g_handler;

class RegistryKey {
public:
    ~RegistryKey() {
        if (key && g_runtime) g_runtime->RegCloseKey(key);
    }
    HKEY key = nullptr;
};

}  // namespace

extern "C" {

__declspec(dllexport) int WINAPI SK_GetPluginInstance(IPluginHelper* helper) {
    if (!helper || g_runtime) return 0;
    if (!helper->Register(&g_handler, &g_handler.id, &g_registeredRuntime)) return 0;
    if (!g_registeredRuntime) return 0;
    void* runtime = nullptr;
    if (!g_registeredRuntime->QueryInterface(L"interface_plugin_runtime_ver_1", &runtime)) return 0;
    g_runtime = static_cast<IPluginRuntimeV1*>(runtime);
    return 1;
}

__declspec(dllexport) void* ProbeRegisteredRuntime() { return g_registeredRuntime; }

__declspec(dllexport) void* ProbeRuntime() { return g_runtime; }

__declspec(dllexport) int ProbeQueryInterface(const wchar_t* name, void** out) {
    return g_runtime->QueryInterface(name, out);
}

__declspec(dllexport) void ProbeRelease(int times) {
    for (int i = 0; i < times; ++i) g_runtime->Release();
}

__declspec(dllexport) void ProbeFolders(const wchar_t* folders[5]) {
    folders[0] = g_runtime->GetBaseFolder();
    folders[1] = g_runtime->GetPatternFolder();
    folders[2] = g_runtime->GetProfileFolder();
    folders[3] = g_runtime->GetLogFolder();
    folders[4] = g_runtime->GetExtraFolder();
}

__declspec(dllexport) int ProbeIsWow64() { return g_runtime->IsWow64(); }

__declspec(dllexport) int ProbeLowLevelMode() { return g_runtime->GetLowLevelMode(); }

__declspec(dllexport) ULONG_PTR ProbeCallSlot(int slot) {
    // What a plug-in built from the table alone does: take the slot's entry and call it on the object.
    typedef ULONG_PTR(SK_PLUGIN_CALL * NoArgumentOperation)(void* self);
    void** table = *reinterpret_cast<void***>(g_runtime);
    return reinterpret_cast<NoArgumentOperation>(table[slot])(g_runtime);
}

__declspec(dllexport) int ProbeReadFile(int lockOpen, const wchar_t* path, void* buffer, DWORD bufferSize,
                                        DWORD* bytesRead, DWORD* fileSize, DWORD* error) {
    *bytesRead = 0;
    *error = 0;
    HANDLE file = lockOpen ? g_runtime->OpenLockFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                           : g_runtime->CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    int ok = 1;
    *fileSize = g_runtime->GetFileSize(file, nullptr);
    char* out = static_cast<char*>(buffer);
    for (;;) {
        DWORD got = 0;
        DWORD room = bufferSize - *bytesRead;
        DWORD ask = room < 4096 ? room : 4096;  // several reads, so that the position really advances
        if (!g_runtime->ReadFile(file, out + *bytesRead, ask, &got, nullptr)) {
            *error = GetLastError();
            ok = 0;
            break;
        }
        if (got == 0) break;
        *bytesRead += got;
    }
    if (ok && *bytesRead > 0) {
        char first[16] = {};
        DWORD again = 0;
        DWORD want = *bytesRead < sizeof first ? *bytesRead : static_cast<DWORD>(sizeof first);
        if (g_runtime->SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 ||
            !g_runtime->ReadFile(file, first, want, &again, nullptr) || again != want ||
            memcmp(first, out, want) != 0) {
            *error = GetLastError();
            ok = 0;
        }
    }
    BOOL closed = lockOpen ? g_runtime->CloseLockFile(file) : g_runtime->CloseHandle(file);
    if (!closed) ok = 0;
    return ok;
}

__declspec(dllexport) int ProbeRegistryCreate(const wchar_t* keyPath, const wchar_t* value) {
    RegistryKey key;
    DWORD disposition = 0;
    if (g_runtime->RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.key,
                                   &disposition) != ERROR_SUCCESS)
        return 1;
    if (disposition != REG_CREATED_NEW_KEY) return 2;
    RegistryKey child;
    if (g_runtime->RegCreateKeyExW(key.key, L"child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child.key, nullptr) !=
        ERROR_SUCCESS)
        return 3;
    DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    if (g_runtime->RegSetValueExW(key.key, L"Probe", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes) !=
        ERROR_SUCCESS)
        return 4;
    DWORD number = 0x12345678;
    if (g_runtime->RegSetValueExW(key.key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                  sizeof number) != ERROR_SUCCESS)
        return 5;
    return 0;
}

__declspec(dllexport) int ProbeRegistryRead(const wchar_t* keyPath, wchar_t* value, DWORD valueChars) {
    RegistryKey key;
    if (g_runtime->RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key.key) != ERROR_SUCCESS) return 1;
    DWORD subKeys = 0, values = 0;
    if (g_runtime->RegQueryInfoKeyW(key.key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                    nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subKeys != 1 || values != 2)
        return 2;
    wchar_t name[64];
    DWORD nameChars = 64;
    if (g_runtime->RegEnumKeyExW(key.key, 0, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        wcscmp(name, L"child") != 0)
        return 3;
    if (g_runtime->RegEnumKeyW(key.key, 0, name, 64) != ERROR_SUCCESS || wcscmp(name, L"child") != 0) return 4;
    if (g_runtime->RegEnumKeyW(key.key, 1, name, 64) != ERROR_NO_MORE_ITEMS) return 5;
    bool sawProbe = false, sawNumber = false;
    for (DWORD index = 0;; ++index) {
        nameChars = 64;
        LONG status = g_runtime->RegEnumValueW(key.key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return 6;
        sawProbe |= wcscmp(name, L"Probe") == 0;
        sawNumber |= wcscmp(name, L"Number") == 0;
    }
    if (!sawProbe || !sawNumber) return 7;
    DWORD type = 0, number = 0, size = sizeof number;
    if (g_runtime->RegQueryValueExW(key.key, L"Number", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || number != 0x12345678)
        return 8;
    size = valueChars * sizeof(wchar_t);
    if (g_runtime->RegQueryValueExW(key.key, L"Probe", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return 9;
    return 0;
}

__declspec(dllexport) int ProbeRegistryDelete(const wchar_t* keyPath) {
    {
        RegistryKey key;
        if (g_runtime->RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_ALL_ACCESS, &key.key) != ERROR_SUCCESS)
            return 1;
        if (g_runtime->RegDeleteValueW(key.key, L"Probe") != ERROR_SUCCESS) return 2;
        if (g_runtime->RegDeleteValueW(key.key, L"Probe") != ERROR_FILE_NOT_FOUND) return 3;
        if (g_runtime->RegDeleteKeyW(key.key, L"child") != ERROR_SUCCESS) return 4;
    }
    if (g_runtime->RegDeleteKeyW(HKEY_CURRENT_USER, keyPath) != ERROR_SUCCESS) return 5;
    return 0;
}

__declspec(dllexport) int ProbeFileOperations(const wchar_t* folder) {
    std::wstring base = folder;
    std::wstring source = base + L"\\source.txt", copy = base + L"\\copy.txt", moved = base + L"\\moved.txt";
    if (g_runtime->GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES) return 1;
    if (!g_runtime->CopyFileW(source.c_str(), copy.c_str(), TRUE)) return 2;
    if (g_runtime->CopyFileW(source.c_str(), copy.c_str(), TRUE) || GetLastError() != ERROR_FILE_EXISTS) return 3;
    if (!g_runtime->MoveFileW(copy.c_str(), moved.c_str())) return 4;
    WIN32_FIND_DATAW found;
    HANDLE find = g_runtime->FindFirstFileW((base + L"\\*.txt").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 5;
    int names = 1;
    while (g_runtime->FindNextFileW(find, &found)) ++names;
    bool endedCleanly = GetLastError() == ERROR_NO_MORE_FILES;
    if (!g_runtime->FindClose(find)) return 6;
    if (names != 2 || !endedCleanly) return 7;
    if (!g_runtime->RemoveFileW(moved.c_str())) return 8;
    if (!g_runtime->DeleteFileW(source.c_str())) return 9;
    if (g_runtime->DeleteFileW(source.c_str()) || GetLastError() != ERROR_FILE_NOT_FOUND) return 10;
    if (g_runtime->GetFileAttributesW(source.c_str()) != INVALID_FILE_ATTRIBUTES) return 11;
    return 0;
}

}  // extern "C"
