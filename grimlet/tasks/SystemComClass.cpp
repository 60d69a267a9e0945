#include "grimlet/tasks/SystemComClass.h"

#include "platform/system/Wow64.h"

namespace {

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return out;
}

std::string Hex(HRESULT result) {
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// The folder of this process's own system DLLs: SysWOW64 for a 32-bit process on 64-bit Windows, so
// that a thread with file-system redirection turned off still gets the DLL of its own kind.
std::wstring SystemFolder() {
    wchar_t buffer[MAX_PATH];
    UINT length = IsWow64() ? GetSystemWow64DirectoryW(buffer, MAX_PATH) : GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(buffer, length);
}

}  // namespace

bool CreateSystemComObject(const wchar_t* dllName, REFCLSID classId, REFIID interfaceId, void** object,
                           std::string& problem) {
    *object = nullptr;
    const std::wstring folder = SystemFolder();
    if (folder.empty()) {
        problem = "the system folder cannot be named";
        return false;
    }
    const std::wstring path = folder + L"\\" + dllName;
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        problem = Narrow(dllName) + " cannot be loaded (" + std::to_string(GetLastError()) + ")";
        return false;
    }
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject) {
        problem = Narrow(dllName) + " exports no DllGetClassObject";
        return false;
    }
    ComRef<IClassFactory> factory;
    HRESULT result = getClassObject(classId, __uuidof(IClassFactory), factory.ReceiveVoid());
    if (FAILED(result) || !factory.IsValid()) {
        problem = Narrow(dllName) + " gives no class factory (" + Hex(result) + ")";
        return false;
    }
    result = factory->CreateInstance(nullptr, interfaceId, object);
    if (FAILED(result) || !*object) {
        *object = nullptr;
        problem = Narrow(dllName) + " makes no object (" + Hex(result) + ")";
        return false;
    }
    return true;
}
