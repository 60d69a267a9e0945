#include "grimlet/mendrel/RegistryTreeDeleter.h"

#include <memory>
#include <vector>

#include "grimlet/common/RegKeyUnlocker.h"
#include "grimlet/common/RegistryLink.h"
#include "platform/log/Logger.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

constexpr REGSAM kTreeAccess = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE;
// The registry's own limit on the depth of a tree: whatever the worm built there can be taken down.
constexpr int kMaxDepth = 512;

// Each key is opened without following it and deleted through that same handle, once its subkeys are
// gone; a link is deleted itself and its target is never entered.
bool DeleteTree(const std::wstring& path, int depth) {
    if (depth > kMaxDepth) return false;
    std::unique_ptr<RegKeyUnlocker> unlocker;
    RegistryKey key;
    LONG result = OpenKeyUnlockingIfDenied(path, kTreeAccess, key, unlocker);
    if (result == ERROR_FILE_NOT_FOUND) return true;
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) for deletion Error=%d", path.c_str(), (int)result);
        return false;
    }
    std::wstring target;
    RegistryLink::Kind kind = RegistryLink::KindOf(key.Get(), &target);
    if (kind == RegistryLink::Kind::Unknown) {
        TW_LOG(LogLevel::Error, "%S cannot be told from a registry link; not deleted", path.c_str());
        return false;
    }
    if (kind == RegistryLink::Kind::Plain) {
        std::vector<std::wstring> children;
        result = key.SubkeyNames(children);
        if (result != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "RegEnumKeyExW(%S) Error=%d", path.c_str(), (int)result);
            return false;
        }
        for (const std::wstring& child : children)
            if (!DeleteTree(path + L"\\" + child, depth + 1)) return false;
    }
    result = RegistryLink::DeleteOpenKey(key.Get());
    if (result != ERROR_SUCCESS && result != ERROR_KEY_DELETED) {
        TW_LOG(LogLevel::Error, "NtDeleteKey(%S) Error=%d", path.c_str(), (int)result);
        return false;
    }
    if (kind == RegistryLink::Kind::Link)
        TW_LOG(LogLevel::Info, "Deleted the registry link %S (its target %S stays)", path.c_str(), target.c_str());
    else
        TW_LOG(LogLevel::Info, "Deleted key %S", path.c_str());
    return true;
}

}  // namespace

LONG OpenKeyUnlockingIfDenied(const std::wstring& path, REGSAM access, RegistryKey& key,
                              std::unique_ptr<RegKeyUnlocker>& unlocker) {
    LONG result = RegistryLink::OpenMachineKey(path, access, key);
    if (result == ERROR_ACCESS_DENIED) {
        unlocker.reset(new RegKeyUnlocker(HKEY_LOCAL_MACHINE, path));
        if (unlocker->Unlock()) result = RegistryLink::OpenMachineKey(path, access, key);
    }
    return result;
}

bool TakeSubkeyNames(RegistryKey& key, const std::wstring& path, std::vector<std::wstring>& children) {
    const LONG result = key.SubkeyNames(children);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegEnumKeyExW(%S) Error=%d", path.c_str(), (int)result);
        return false;
    }
    key.Close();
    return true;
}

bool DeleteRegistryTree(const std::wstring& path) { return DeleteTree(path, 0); }
