#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Opens a registry key that denies this process reading it. Unlock() takes the key's ownership for a
// moment when it must (and hands it back at once), saves the key's access list, and writes a copy
// without its access-denied entries that grants this process's owner full access. Destruction writes
// the saved list back, so the key ends as it was.
//
// A key whose list cannot be read or rebuilt is left alone and Unlock() fails: writing an empty
// ("null") list instead would leave the key open to everybody.
class RegKeyUnlocker {
public:
    RegKeyUnlocker(HKEY root, const std::wstring& path);
    ~RegKeyUnlocker();
    RegKeyUnlocker(const RegKeyUnlocker&) = delete;
    RegKeyUnlocker& operator=(const RegKeyUnlocker&) = delete;

    bool Unlock();
    bool HoldsSavedList() const { return !savedDescriptor_.empty(); }

    // The name the named-security functions know the key by ("MACHINE\..." and so on); empty for a root
    // that has no such name.
    static std::wstring ObjectName(HKEY root, const std::wstring& path);

private:
    bool Restore();

    HKEY root_;
    wchar_t path_[MAX_PATH] = {};
    std::vector<BYTE> savedDescriptor_;  // self-relative, DACL only
};
