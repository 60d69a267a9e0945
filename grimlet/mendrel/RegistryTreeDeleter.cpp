#include "grimlet/mendrel/RegistryTreeDeleter.h"

#include <memory>
#include <vector>

#include "grimlet/common/RegKeyUnlocker.h"
#include "platform/log/Logger.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

constexpr REGSAM kTreeAccess = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE;
constexpr int kMaxDepth = 32;

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
    std::vector<std::wstring> children;
    if (!TakeSubkeyNames(key, path, children)) return false;
    for (const std::wstring& child : children)
        if (!DeleteTree(path + L"\\" + child, depth + 1)) return false;
    result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        TW_LOG(LogLevel::Error, "RegDeleteKeyW(%S) Error=%d", path.c_str(), (int)result);
        return false;
    }
    TW_LOG(LogLevel::Info, "Deleted key %S", path.c_str());
    return true;
}

}  // namespace

LONG OpenKeyUnlockingIfDenied(const std::wstring& path, REGSAM access, RegistryKey& key,
                              std::unique_ptr<RegKeyUnlocker>& unlocker) {
    LONG result = key.Open(HKEY_LOCAL_MACHINE, path, access);
    if (result == ERROR_ACCESS_DENIED) {
        unlocker.reset(new RegKeyUnlocker(HKEY_LOCAL_MACHINE, path));
        if (unlocker->Unlock()) result = key.Open(HKEY_LOCAL_MACHINE, path, access);
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
