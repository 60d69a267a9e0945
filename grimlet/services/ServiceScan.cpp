#include "grimlet/services/ServiceScan.h"

#include <cstdio>

#include "grimlet/common/NativeFileView.h"
#include "grimlet/services/ServiceKeyCheck.h"
#include "platform/log/Logger.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {
const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\Services";
}  // namespace

void ReportUncheckableKey(const std::wstring& keyPath) {
    printf("The key %S cannot be checked!\n", keyPath.c_str());
    fflush(stdout);
}

void CheckServices(std::vector<ServiceEntry>& entries, TrustedSignerTest isTrusted) {
    RegistryKey services;
    LONG result = services.Open(HKEY_LOCAL_MACHINE, kServicesPath, KEY_READ);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) Error=%d", kServicesPath, (int)result);
        return;
    }
    DWORD subkeys = 0;
    DWORD longestName = 0;
    result = RegQueryInfoKeyW(services.Get(), nullptr, nullptr, nullptr, &subkeys, &longestName, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegQueryInfoKeyW(%S) Error=%d", kServicesPath, (int)result);
        return;
    }
    std::vector<wchar_t> name(longestName + 1 > 256 ? longestName + 1 : 256);
    for (DWORD index = 0; index < subkeys; ++index) {
        if (RegEnumKeyW(services.Get(), index, name.data(), static_cast<DWORD>(name.size())) != ERROR_SUCCESS)
            continue;
        std::wstring keyPath = std::wstring(kServicesPath) + L"\\" + name.data();
        if (keyPath.size() > MAX_PATH - 1) keyPath.resize(MAX_PATH - 1);
        ServiceKeyVerdict verdict = CheckServiceKey(keyPath, isTrusted);
        if (!verdict.examined) {
            ReportUncheckableKey(keyPath);
            continue;
        }
        if (verdict.found) {
            ServiceEntry entry;
            entry.root = HKEY_LOCAL_MACHINE;
            entry.keyPath = keyPath;
            entry.dllPath = verdict.dllPath;
            entry.unlocked = verdict.unlocked;
            entries.push_back(entry);
        }
    }
}

WormSign WormSignOf(const ServiceEntry& entry) {
    if (entry.unlocked == 1) return WormSign::KeyDeniedReading;
    // The file the service host loads, not the one a 32-bit process is shown in its place.
    DWORD attributes = NativeFileAttributes(entry.dllPath);
    const DWORD hiddenReadOnly = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & hiddenReadOnly) == hiddenReadOnly)
        return WormSign::HiddenReadOnlyDll;
    NativeFile file(entry.dllPath, FILE_GENERIC_READ);
    return file.OpenError() == ERROR_SHARING_VIOLATION ? WormSign::LockedDll : WormSign::None;
}
