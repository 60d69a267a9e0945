#pragma once
#include <windows.h>

#include <string>

#include "platform/win32/RegistryKey.h"

// Registry links (keys made with REG_OPTION_CREATE_LINK) below a service key. Whoever controls a
// service key can plant one that leads to any other key; opened by name, the link is followed and
// whatever is done to "the service's subkey" is done to that other key. So every key below the
// Services key is opened one name at a time with REG_OPTION_OPEN_LINK, a link is never opened through,
// and a link is only ever deleted itself.
namespace RegistryLink {

// What RegOpenKeyExW-like calls here return when a key on the way is a link. (ERROR_STOPPED_ON_SYMLINK,
// which these headers do not name.)
constexpr LONG kStoppedOnLink = 681;

enum class Kind { Plain, Link, Unknown };

// A key opened with REG_OPTION_OPEN_LINK and KEY_QUERY_VALUE: a link carries its target in the value
// "SymbolicLinkValue" of type REG_LINK and has no subkeys. Unknown when the key may not be queried;
// `target` receives the link's target for a link.
Kind KindOf(HKEY key, std::wstring* target = nullptr);

// Opens the subkey `name` of `parent` without following it, should it be a link.
LONG OpenChild(HKEY parent, const std::wstring& name, REGSAM access, RegistryKey& key);

// Opens a key under HKEY_LOCAL_MACHINE. Up to and including "SYSTEM\CurrentControlSet\Services" the path
// is opened as the system names it (CurrentControlSet is itself a link the system keeps). Below it, each
// name is opened on its own with REG_OPTION_OPEN_LINK: kStoppedOnLink when a key above the last one is
// a link (or cannot be asked). The last key is opened without being followed; whether it is a link is
// for the caller to ask. A path outside the Services key is opened with only its last key unfollowed.
LONG OpenMachineKey(const std::wstring& path, REGSAM access, RegistryKey& key);

// Deletes the key `key` holds (opened with DELETE and without following it): a link goes, its target
// stays. The key must have no subkeys.
LONG DeleteOpenKey(HKEY key);

}  // namespace RegistryLink
