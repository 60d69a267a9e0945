#include "grimlet/mendrel/NetsvcsServiceFinder.h"

#include <memory>

#include "grimlet/common/RegKeyUnlocker.h"
#include "grimlet/common/RegistryLink.h"
#include "grimlet/common/RegistryValue.h"
#include "platform/log/Logger.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\Services";

std::wstring FullPathOf(const std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH) return path;
    return std::wstring(buffer, length);
}

// Reads one string value of a key that may deny reading. The unlocker, which gives the key its access
// list back when it goes, is the caller's: a key below is reached through this one, one name at a time.
bool ReadValueOfGuardedKey(const std::wstring& path, const wchar_t* name, std::wstring& text,
                           std::unique_ptr<RegKeyUnlocker>& unlocker) {
    RegistryKey key;
    LONG result = RegistryLink::OpenMachineKey(path, KEY_READ, key);
    if (result == ERROR_ACCESS_DENIED) {
        unlocker.reset(new RegKeyUnlocker(HKEY_LOCAL_MACHINE, path));
        if (!unlocker->Unlock()) {
            TW_LOG(LogLevel::Warning, "Key %S cannot be opened for reading", path.c_str());
            return false;
        }
        result = RegistryLink::OpenMachineKey(path, KEY_READ, key);
    }
    if (result != ERROR_SUCCESS) return false;
    // A link where a service key or its Parameters should be is not read through.
    if (RegistryLink::KindOf(key.Get()) != RegistryLink::Kind::Plain) {
        TW_LOG(LogLevel::Warning, "Key %S is a registry link; not followed", path.c_str());
        return false;
    }
    return ReadServiceString(key.Get(), name, text);
}

}  // namespace

bool IsSameFilePath(const std::wstring& left, const std::wstring& right) {
    return lstrcmpiW(FullPathOf(left).c_str(), FullPathOf(right).c_str()) == 0;
}

std::vector<std::wstring> FindNetsvcsServicesUsing(const std::wstring& dllPath) {
    std::vector<std::wstring> names;
    RegistryKey services;
    LONG result = services.Open(HKEY_LOCAL_MACHINE, kServicesPath, KEY_READ);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) Error=%d", kServicesPath, (int)result);
        return names;
    }
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        result = RegEnumKeyExW(services.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) continue;
        std::wstring keyPath = std::wstring(kServicesPath) + L"\\" + name;
        std::wstring imagePath;
        std::unique_ptr<RegKeyUnlocker> serviceUnlocker, parametersUnlocker;
        if (!ReadValueOfGuardedKey(keyPath, L"ImagePath", imagePath, serviceUnlocker) ||
            !IsNetsvcsImagePath(imagePath))
            continue;
        std::wstring rawDll;
        std::wstring serviceDll;
        if (!ReadValueOfGuardedKey(keyPath + L"\\Parameters", L"ServiceDll", rawDll, parametersUnlocker) ||
            !ExpandServicePath(rawDll, serviceDll))
            continue;
        if (IsSameFilePath(serviceDll, dllPath)) {
            TW_LOG(LogLevel::Info, "Service %S uses %S", name, serviceDll.c_str());
            names.push_back(name);
        }
    }
    return names;
}
