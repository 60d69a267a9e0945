#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "grimlet/common/RegKeyUnlocker.h"
#include "platform/win32/RegistryKey.h"

// Deletes a key under HKEY_LOCAL_MACHINE with all its subkeys, taking over the access list of any key
// that refuses. A registry link among them is deleted itself; its target is left as it is. A key that
// is already gone counts as deleted. When a key cannot be deleted, the keys
// still there keep their access lists as they were.
bool DeleteRegistryTree(const std::wstring& path);

// Opens a key under HKEY_LOCAL_MACHINE without following a link (RegistryLink::OpenMachineKey); a key that denies this process is unlocked first. The unlocker,
// which the caller keeps as long as it needs the key, gives the key its access list back when it goes.
LONG OpenKeyUnlockingIfDenied(const std::wstring& path, REGSAM access, RegistryKey& key,
                              std::unique_ptr<RegKeyUnlocker>& unlocker);

// The names of the subkeys of `key` (the key at `path`), which is then closed, so that a walk down the
// tree holds one open key per level at most. False, logged, when they cannot be listed.
bool TakeSubkeyNames(RegistryKey& key, const std::wstring& path, std::vector<std::wstring>& children);
