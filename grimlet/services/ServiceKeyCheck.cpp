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
LONG OpenWithoutLinks(const std::wstring& path, RegistryKey& key, std::wstring* linkTarget = nullptr) {
    LONG result = RegistryLink::OpenMachineKey(path, KEY_READ, key);
    if (result != ERROR_SUCCESS) return result;
    if (RegistryLink::KindOf(key.Get(), linkTarget) == RegistryLink::Kind::Link) {
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
    std::wstring why;         // why it could not be opened
    std::wstring linkTarget;  // the target, when the key is a registry link
};

std::wstring WithError(const wchar_t* text, LONG error) {
    return std::wstring(text) + L" (Error=" + std::to_wstring(error) + L")";
}

std::wstring WhyNotOpened(LONG result, bool afterUnlock, const std::wstring& linkTarget) {
    if (result == RegistryLink::kStoppedOnLink)
        return linkTarget.empty() ? L"it is a registry link; not followed"
                                  : L"it is a registry link to " + linkTarget + L"; not followed";
    return WithError(afterUnlock ? L"it denies reading and cannot be opened" : L"it cannot be opened", result);
}

OpenOutcome OpenForReading(const std::wstring& path, ReadableKey& target, int& unlocked) {
    LONG result = OpenWithoutLinks(path, target.key, &target.linkTarget);
    if (result == ERROR_FILE_NOT_FOUND) return OpenOutcome::NotFound;
    if (result != ERROR_SUCCESS && result != ERROR_ACCESS_DENIED) {
        target.why = WhyNotOpened(result, false, target.linkTarget);
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
        target.why = WhyNotOpened(result, true, std::wstring());
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

// What a service key that is a registry link leads to, as the service manager, which follows it, would
// see it: read only, never unlocked, the Parameters below it not followed again. Said, never acted on.
std::wstring DescribeLinkedService(const std::wstring& keyPath, TrustedSignerTest isTrusted) {
    RegistryKey followed;
    if (followed.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS)
        return L"; its target cannot be read";
    std::wstring imagePath;
    if (ReadServiceStringStatus(followed.Get(), L"ImagePath", imagePath) != ERROR_SUCCESS) return L"";
    if (!IsNetsvcsImagePath(imagePath)) return L"; its target is no netsvcs service";
    RegistryKey parameters;
    std::wstring rawDll;
    std::wstring dllPath;
    if (RegistryLink::OpenChild(followed.Get(), L"Parameters", KEY_READ, parameters) != ERROR_SUCCESS ||
        RegistryLink::KindOf(parameters.Get()) != RegistryLink::Kind::Plain ||
        ReadServiceStringStatus(parameters.Get(), L"ServiceDll", rawDll) != ERROR_SUCCESS ||
        !ExpandServicePath(rawDll, dllPath))
        return L"; its target is a netsvcs service whose ServiceDll cannot be read";
    return (isTrusted(dllPath) ? L"; its target is a netsvcs service with the trusted DLL "
                               : L"; its target is a netsvcs service with the untrusted DLL ") + dllPath;
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
        if (!service.linkTarget.empty()) verdict.why += DescribeLinkedService(keyPath, isTrusted);
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
