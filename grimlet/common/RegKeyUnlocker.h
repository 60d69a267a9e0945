#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/RegistryKey.h"

// Opens a registry key that denies this process reading it. Unlock() takes the key's ownership for a
// moment when it must (and hands it back at once), saves the key's access list, and writes a copy
// without its access-denied entries that grants this process's owner full access. Destruction writes
// the saved list back, so the key ends as it was.
//
// The key is opened without following it, and below a service key without following any link on the
// way (RegistryLink.h): a link planted there is never unlocked through.
//
// A key whose list cannot be read or rebuilt is left alone and Unlock() fails: writing an empty
// ("null") list instead would leave the key open to everybody. So is a key whose owner would have to be
// taken and cannot be read: it could never be handed back.
class RegKeyUnlocker {
public:
    RegKeyUnlocker(HKEY root, const std::wstring& path);
    ~RegKeyUnlocker();
    RegKeyUnlocker(const RegKeyUnlocker&) = delete;
    RegKeyUnlocker& operator=(const RegKeyUnlocker&) = delete;

    bool Unlock();
    bool HoldsSavedList() const { return !savedDescriptor_.empty(); }
    // Writes the saved list back and reads it again: empty when the key's owner and list are as they
    // were (or the key is gone), else what is not. Destruction does the same, unreported.
    std::wstring Release();

    // The name the named-security functions know the key by ("MACHINE\..." and so on); empty for a root
    // that has no such name.
    static std::wstring ObjectName(HKEY root, const std::wstring& path);

private:
    // The key itself, never what it may link to.
    LONG OpenKey(REGSAM access, RegistryKey& key) const;
    LONG Restore();

    HKEY root_;
    wchar_t path_[MAX_PATH] = {};
    std::vector<BYTE> savedDescriptor_;  // self-relative, DACL only
    std::wstring fault_;                 // an owner that Unlock() could not hand back exactly
};
