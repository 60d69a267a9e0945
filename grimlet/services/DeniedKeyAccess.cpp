#include "grimlet/services/DeniedKeyAccess.h"

#include <cwctype>

#include "grimlet/common/NetsvcsGroupList.h"
#include "grimlet/common/ScopedPrivilege.h"

namespace {
std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}
}  // namespace

SystemDeniedKeyAccess::SystemDeniedKeyAccess() {
    for (const std::wstring& name : NetsvcsGroupList::Read()) listed_.insert(Upper(name));
}

LONG SystemDeniedKeyAccess::OpenForBackup(HKEY parent, const std::wstring& name, RegistryKey& key, DWORD& disposition) {
    ScopedPrivilege backup(SE_BACKUP_NAME);
    if (!backup.Enabled()) return ERROR_PRIVILEGE_NOT_HELD;
    // Before Windows 7 only RegCreateKeyExW honours REG_OPTION_BACKUP_RESTORE; the access asked for is
    // ignored and the handle gets what backing up needs (reading and the key's security).
    return RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK,
                           KEY_READ, nullptr, key.Receive(), &disposition);
}

bool SystemDeniedKeyAccess::IsNetsvcsListed(const std::wstring& serviceName) {
    return listed_.count(Upper(serviceName)) != 0;
}

bool SystemDeniedKeyAccess::Unlock(const std::wstring& path, std::unique_ptr<RegKeyUnlocker>& unlocker) {
    unlocker.reset(new RegKeyUnlocker(HKEY_LOCAL_MACHINE, path));
    return unlocker->Unlock();
}
