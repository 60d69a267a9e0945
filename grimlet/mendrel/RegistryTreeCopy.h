#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "grimlet/mendrel/RegFile.h"

// Service keys read whole before they are deleted, and written back on a restore. The paths of the
// RegFileKey images carry the "HKEY_LOCAL_MACHINE\" that a regedit file needs.

// Appends the key at `path` (under HKEY_LOCAL_MACHINE) and every key below it, each after its parent,
// with every value's name, type and bytes. A key that denies reading is opened as for its deletion and
// has its access list back afterwards. A registry link is never followed: it is not saved, and neither
// is a key too deep, a value too large for the save (1 MiB in all) or anything that cannot be read.
// Without `gaps`, false at the first of these; with `gaps`, each is added there as one line of text and
// the rest is saved. True when the whole tree was saved.
bool ReadRegistryTree(const std::wstring& path, std::vector<RegFileKey>& keys,
                      std::vector<std::wstring>* gaps = nullptr);

enum class TreeWrite { Written, KeyExists, Failed };

// Creates the keys of `keys`, in order, with their values. Every key that `roots` names (paths under
// HKEY_LOCAL_MACHINE, each among `keys`) must be new: KeyExists when one is there already. All or
// nothing: on KeyExists or Failed, whatever this call created is deleted again.
TreeWrite WriteRegistryTrees(const std::vector<RegFileKey>& keys, const std::vector<std::wstring>& roots);

// The path of an image under HKEY_LOCAL_MACHINE; empty when the image lies elsewhere.
std::wstring MachineRelativePath(const std::u16string& imagePath);

