#pragma once
#include <windows.h>

#include <string>

// Deletes a key under HKEY_LOCAL_MACHINE with all its subkeys, taking over the access list of any key
// that refuses. A key that is already gone counts as deleted. When a key cannot be deleted, the keys
// still there keep their access lists as they were.
bool DeleteRegistryTree(const std::wstring& path);
