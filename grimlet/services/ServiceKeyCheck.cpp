#include "grimlet/services/ServiceKeyCheck.h"

#include <memory>

#include "grimlet/common/RegKeyUnlocker.h"
#include "grimlet/common/RegistryLink.h"
#include "grimlet/common/RegistryValue.h"
#include "platform/log/Logger.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

enum class OpenOutcome { Opened, NotFound, Failed };

// Keys below the Services key are opened one name at a time without following a link; a link where a
// service key or its Parameters should be cannot be examined (its target may be any key).
LONG OpenWithoutLinks(const std::wstring& path, RegistryKey& key) {
    LONG result = RegistryLink::OpenMachineKey(path, KEY_READ, key);
    if (result != ERROR_SUCCESS) return result;
    if (RegistryLink::KindOf(key.Get()) == RegistryLink::Kind::Link) {
        TW_LOG(LogLevel::Warning, "%S is a registry link; not followed", path.c_str());
        key.Close();
        return RegistryLink::kStoppedOnLink;
    }
    return ERROR_SUCCESS;
}

// A key opened for reading, with the unlocker that had to open it (if any). The key is closed before
// the unlocker gives the key its access list back.
struct ReadableKey {
    std::unique_ptr<RegKeyUnlocker> unlocker;
    RegistryKey key;
    std::wstring why;  // why it could not be opened
};

std::wstring WithError(const wchar_t* text, LONG error) {
    return std::wstring(text) + L" (Error=" + std::to_wstring(error) + L")";
}

std::wstring WhyNotOpened(LONG result, bool afterUnlock) {
    if (result == RegistryLink::kStoppedOnLink) return L"it is a registry link; not followed";
    return WithError(afterUnlock ? L"it denies reading and cannot be opened" : L"it cannot be opened", result);
}

OpenOutcome OpenForReading(const std::wstring& path, ReadableKey& target, int& unlocked) {
    LONG result = OpenWithoutLinks(path, target.key);
    if (result == ERROR_FILE_NOT_FOUND) return OpenOutcome::NotFound;
    if (result != ERROR_SUCCESS && result != ERROR_ACCESS_DENIED) {
        target.why = WhyNotOpened(result, false);
        return OpenOutcome::Failed;
    }
    if (result == ERROR_SUCCESS) {
        LONG queried = RegQueryInfoKeyW(target.key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
        if (queried != ERROR_ACCESS_DENIED) return OpenOutcome::Opened;
        target.key.Close();
    }
    target.unlocker.reset(new RegKeyUnlocker(HKEY_LOCAL_MACHINE, path));
    target.unlocker->Unlock();
    result = OpenWithoutLinks(path, target.key);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) after unlock Error=%d", path.c_str(), (int)result);
        target.unlocker.reset();
        target.why = WhyNotOpened(result, true);
        return OpenOutcome::Failed;
    }
    unlocked = 1;
    return OpenOutcome::Opened;
}

std::wstring ParametersPath(const std::wstring& keyPath) {
    std::wstring path = keyPath + L"\\Parameters";
    if (path.size() > MAX_PATH - 1) path.resize(MAX_PATH - 1);
    return path;
}

}  // namespace

ServiceKeyVerdict CheckServiceKey(const std::wstring& keyPath, TrustedSignerTest isTrusted) {
    ServiceKeyVerdict verdict;
    int unlocked = 0;
    ReadableKey service;
    OpenOutcome opened = OpenForReading(keyPath, service, unlocked);
    if (opened != OpenOutcome::Opened) {
        verdict.examined = opened == OpenOutcome::NotFound;
        verdict.why = service.why;
        return verdict;
    }
    verdict.examined = true;

    // A value that is there and cannot be read whole is no missing value: the key is not checked.
    auto notChecked = [&verdict](std::wstring why) {
        verdict.examined = false;
        verdict.why = std::move(why);
        return verdict;
    };
    std::wstring imagePath;
    LONG read = ReadServiceStringStatus(service.key.Get(), L"ImagePath", imagePath);
    if (read == ERROR_MORE_DATA) return notChecked(L"its ImagePath is too long to be checked");
    if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) return notChecked(WithError(L"its ImagePath cannot be read", read));
    if (read != ERROR_SUCCESS || !IsNetsvcsImagePath(imagePath)) return verdict;

    ReadableKey parameters;
    opened = OpenForReading(ParametersPath(keyPath), parameters, unlocked);
    if (opened == OpenOutcome::NotFound) return verdict;
    if (opened == OpenOutcome::Failed) return notChecked(L"its Parameters subkey: " + parameters.why);

    std::wstring rawDll;
    std::wstring dllPath;
    read = ReadServiceStringStatus(parameters.key.Get(), L"ServiceDll", rawDll);
    if (read == ERROR_MORE_DATA) return notChecked(L"its ServiceDll is too long to be checked");
    if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) return notChecked(WithError(L"its ServiceDll cannot be read", read));
    if (read == ERROR_SUCCESS && !ExpandServicePath(rawDll, dllPath))
        return notChecked(L"its ServiceDll is too long once expanded");
    if (read == ERROR_SUCCESS && !isTrusted(dllPath)) {
        verdict.found = true;
        verdict.dllPath = dllPath;
        verdict.unlocked = unlocked;
    }
    return verdict;
}
