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

// A key opened for reading, with the unlocker that had to open it (if any). The key is closed before
// the unlocker gives the key its access list back.
struct ReadableKey {
    std::unique_ptr<RegKeyUnlocker> unlocker;
    RegistryKey key;
    std::wstring why;         // why it could not be opened
    std::wstring linkTarget;  // the target, when the key is a registry link

    // Empty when the key's security is as it was, else what is not.
    std::wstring Release() {
        key.Close();
        std::wstring fault = unlocker ? unlocker->Release() : std::wstring();
        unlocker.reset();
        return fault;
    }
};

std::wstring WithError(const wchar_t* text, LONG error) {
    return std::wstring(text) + L" (Error=" + std::to_wstring(error) + L")";
}

std::wstring LinkWhy(const std::wstring& linkTarget) {
    return linkTarget.empty() ? L"it is a registry link; not followed"
                              : L"it is a registry link to " + linkTarget + L"; not followed";
}

// Keys below the Services key are opened one name at a time without following a link (the parent was
// opened so); a link where a service key or its Parameters should be cannot be examined (its target may
// be any key).
LONG OpenChildWithoutLinks(HKEY parent, const std::wstring& name, const std::wstring& path, RegistryKey& key,
                           std::wstring* linkTarget) {
    LONG result = RegistryLink::OpenChild(parent, name, KEY_READ, key);
    if (result != ERROR_SUCCESS) return result;
    if (RegistryLink::KindOf(key.Get(), linkTarget) == RegistryLink::Kind::Link) {
        TW_LOG(LogLevel::Warning, "%S is a registry link; not followed", path.c_str());
        key.Close();
        return RegistryLink::kStoppedOnLink;
    }
    return ERROR_SUCCESS;
}

// The backup open made `name` anew: the key went between the two opens. The empty key is ours and goes
// again, opened as itself; true when it is gone.
bool DeleteVanishedKey(HKEY parent, const std::wstring& name, const std::wstring& path, std::wstring& why) {
    RegistryKey made;
    LONG result = RegistryLink::OpenChild(parent, name, DELETE | KEY_QUERY_VALUE, made);
    if (result == ERROR_SUCCESS && RegistryLink::KindOf(made.Get()) != RegistryLink::Kind::Plain)
        result = RegistryLink::kStoppedOnLink;
    if (result == ERROR_SUCCESS) result = RegistryLink::DeleteOpenKey(made.Get());
    if (result == ERROR_SUCCESS || result == ERROR_KEY_DELETED) {
        TW_LOG(LogLevel::Warning, "%S vanished while it was checked; the empty key the backup open made is deleted",
               path.c_str());
        return true;
    }
    TW_LOG(LogLevel::Error, "%S vanished while it was checked; deleting the key the backup open made Error=%d",
           path.c_str(), (int)result);
    why = WithError(L"it vanished while it was checked, and the empty key the check made cannot be deleted", result);
    return false;
}

// The ways into a key that denies reading, in order: an open for backup, which changes nothing; the
// temporary unlock, only for a service of the netsvcs group (the worm's home: elsewhere the change is
// not worth its risk); else the key is not checked and stays as it is.
OpenOutcome OpenDenied(HKEY parent, const std::wstring& name, const std::wstring& path, const std::wstring& service,
                       DeniedKeyAccess& access, ReadableKey& target, int& unlocked) {
    DWORD disposition = 0;
    LONG result = access.OpenForBackup(parent, name, target.key, disposition);
    if (result == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY) {
        target.key.Close();
        return DeleteVanishedKey(parent, name, path, target.why) ? OpenOutcome::NotFound : OpenOutcome::Failed;
    }
    if (result == ERROR_SUCCESS) {
        RegistryLink::Kind kind = RegistryLink::KindOf(target.key.Get(), &target.linkTarget);
        if (kind == RegistryLink::Kind::Plain) {
            unlocked = 1;
            return OpenOutcome::Opened;
        }
        target.key.Close();
        target.why = kind == RegistryLink::Kind::Link ? LinkWhy(target.linkTarget)
                                                      : L"it denies reading and cannot be told from a registry link";
        return OpenOutcome::Failed;
    }
    TW_LOG(LogLevel::Info, "Opening %S for backup Error=%d", path.c_str(), (int)result);
    if (!access.IsNetsvcsListed(service)) {
        target.why = WithError(L"it denies reading, cannot be opened for backup, and its service is not in the netsvcs "
                               L"group, so it is not unlocked",
                               result);
        return OpenOutcome::Failed;
    }
    access.Unlock(path, target.unlocker);
    result = OpenChildWithoutLinks(parent, name, path, target.key, nullptr);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) after unlock Error=%d", path.c_str(), (int)result);
        target.why = result == RegistryLink::kStoppedOnLink ? LinkWhy(std::wstring())
                                                            : WithError(L"it denies reading and cannot be opened", result);
        return OpenOutcome::Failed;
    }
    unlocked = 1;
    return OpenOutcome::Opened;
}

// Opens `name` below `parent` (a key opened without following links); `path` is its full path under
// HKEY_LOCAL_MACHINE and `service` the name of the service it belongs to.
OpenOutcome OpenForReading(HKEY parent, const std::wstring& name, const std::wstring& path, const std::wstring& service,
                           DeniedKeyAccess& access, ReadableKey& target, int& unlocked) {
    LONG result = OpenChildWithoutLinks(parent, name, path, target.key, &target.linkTarget);
    if (result == ERROR_FILE_NOT_FOUND) return OpenOutcome::NotFound;
    if (result == RegistryLink::kStoppedOnLink) {
        target.why = LinkWhy(target.linkTarget);
        return OpenOutcome::Failed;
    }
    if (result != ERROR_SUCCESS && result != ERROR_ACCESS_DENIED) {
        target.why = WithError(L"it cannot be opened", result);
        return OpenOutcome::Failed;
    }
    if (result == ERROR_SUCCESS) {
        LONG queried = RegQueryInfoKeyW(target.key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
        if (queried != ERROR_ACCESS_DENIED) return OpenOutcome::Opened;
        target.key.Close();
    }
    return OpenDenied(parent, name, path, service, access, target, unlocked);
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

namespace {

// The examination itself; the caller releases the keys, Parameters first.
ServiceKeyVerdict Examine(const std::wstring& keyPath, TrustedSignerTest isTrusted, DeniedKeyAccess& access,
                          ReadableKey& service, ReadableKey& parameters) {
    ServiceKeyVerdict verdict;
    const std::size_t slash = keyPath.rfind(L'\\');
    if (slash == std::wstring::npos) {
        verdict.why = L"it is no key below the Services key";
        return verdict;
    }
    const std::wstring name = keyPath.substr(slash + 1);
    RegistryKey parent;
    LONG result = RegistryLink::OpenMachineKey(keyPath.substr(0, slash), KEY_QUERY_VALUE, parent);
    if (result != ERROR_SUCCESS) {
        verdict.why = WithError(L"the key above it cannot be opened", result);
        return verdict;
    }
    int unlocked = 0;
    OpenOutcome opened = OpenForReading(parent.Get(), name, keyPath, name, access, service, unlocked);
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

    opened = OpenForReading(service.key.Get(), L"Parameters", ParametersPath(keyPath), name, access, parameters, unlocked);
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

}  // namespace

ServiceKeyVerdict CheckServiceKey(const std::wstring& keyPath, TrustedSignerTest isTrusted, DeniedKeyAccess& access) {
    ReadableKey service;
    ReadableKey parameters;
    ServiceKeyVerdict verdict = Examine(keyPath, isTrusted, access, service, parameters);
    std::wstring fault = parameters.Release();
    if (!fault.empty()) verdict.securityNotRestored = L"its Parameters subkey: " + fault;
    fault = service.Release();
    if (!fault.empty())
        verdict.securityNotRestored = verdict.securityNotRestored.empty() ? fault : fault + L"; " + verdict.securityNotRestored;
    return verdict;
}

ServiceKeyVerdict CheckServiceKey(const std::wstring& keyPath, TrustedSignerTest isTrusted) {
    SystemDeniedKeyAccess access;
    return CheckServiceKey(keyPath, isTrusted, access);
}
