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

namespace {
std::wstring WithError(const wchar_t* text, LONG error) {
    return std::wstring(text) + L" (Error=" + std::to_wstring(error) + L")";
}
}  // namespace

void CheckServices(std::vector<ServiceEntry>& entries, TrustedSignerTest isTrusted, std::vector<UncheckedKey>& unchecked) {
    RegistryKey services;
    LONG result = services.Open(HKEY_LOCAL_MACHINE, kServicesPath, KEY_READ);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) Error=%d", kServicesPath, (int)result);
        unchecked.push_back({kServicesPath, WithError(L"it cannot be opened", result)});
        return;
    }
    DWORD subkeys = 0;
    DWORD longestName = 0;
    result = RegQueryInfoKeyW(services.Get(), nullptr, nullptr, nullptr, &subkeys, &longestName, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegQueryInfoKeyW(%S) Error=%d", kServicesPath, (int)result);
        unchecked.push_back({kServicesPath, WithError(L"its subkeys cannot be counted", result)});
        return;
    }
    std::vector<wchar_t> name(longestName + 1 > 256 ? longestName + 1 : 256);
    SystemDeniedKeyAccess access;  // the netsvcs list as this walk begins
    for (DWORD index = 0; index < subkeys; ++index) {
        result = RegEnumKeyW(services.Get(), index, name.data(), static_cast<DWORD>(name.size()));
        if (result == ERROR_NO_MORE_ITEMS) break;  // keys deleted during the walk
        if (result != ERROR_SUCCESS) {
            unchecked.push_back({std::wstring(kServicesPath) + L"\\#" + std::to_wstring(index),
                                 WithError(L"its name cannot be read", result)});
            continue;
        }
        std::wstring keyPath = std::wstring(kServicesPath) + L"\\" + name.data();
        if (keyPath.size() > MAX_PATH - 1) {
            // Cut short, the path would name another key, or none.
            ReportUncheckableKey(keyPath);
            unchecked.push_back({keyPath, L"its name is too long to be checked"});
            continue;
        }
        ServiceKeyVerdict verdict = CheckServiceKey(keyPath, isTrusted, access);
        if (!verdict.securityNotRestored.empty()) {
            // Said in the report whatever else the key showed: the scan changed what it should have left.
            TW_LOG(LogLevel::Error, "The key %S: %S", keyPath.c_str(), verdict.securityNotRestored.c_str());
            unchecked.push_back({keyPath, verdict.securityNotRestored});
        }
        if (!verdict.examined) {
            ReportUncheckableKey(keyPath);
            TW_LOG(LogLevel::Warning, "The key %S cannot be checked: %S", keyPath.c_str(), verdict.why.c_str());
            unchecked.push_back({keyPath, verdict.why});
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
