#pragma once
#include <windows.h>

#include <memory>
#include <set>
#include <string>

#include "grimlet/common/RegKeyUnlocker.h"
#include "platform/win32/RegistryKey.h"

// The two ways into a service key (or its Parameters) that denies reading, tried in this order by the
// service check: an open for backup, which reads the key and changes nothing, and, only for a service
// that svchost.exe -k netsvcs starts, the temporary owner and access-list change of RegKeyUnlocker.
// Tests replace it to prove the choice on systems that refuse one way or the other.
class DeniedKeyAccess {
public:
    virtual ~DeniedKeyAccess() = default;

    // Opens `name` below `parent` for reading with backup semantics and without following a link.
    // `disposition` receives REG_CREATED_NEW_KEY when the key had gone and the call made a new one.
    virtual LONG OpenForBackup(HKEY parent, const std::wstring& name, RegistryKey& key, DWORD& disposition) = 0;
    // Whether the netsvcs group list names the service.
    virtual bool IsNetsvcsListed(const std::wstring& serviceName) = 0;
    // Opens the key under HKEY_LOCAL_MACHINE at `path` to this process; `unlocker` puts it back when released.
    virtual bool Unlock(const std::wstring& path, std::unique_ptr<RegKeyUnlocker>& unlocker) = 0;
};

// The system's ways: SeBackupPrivilege switched on for each backup open only, the netsvcs list read once.
class SystemDeniedKeyAccess : public DeniedKeyAccess {
public:
    SystemDeniedKeyAccess();
    LONG OpenForBackup(HKEY parent, const std::wstring& name, RegistryKey& key, DWORD& disposition) override;
    bool IsNetsvcsListed(const std::wstring& serviceName) override;
    bool Unlock(const std::wstring& path, std::unique_ptr<RegKeyUnlocker>& unlocker) override;

private:
    std::set<std::wstring> listed_;  // upper case
};
