#pragma once
// The test prefix's drives the worm spreads over (tools/wine_env.sh): E:, F: and G: are removable, N: is a
// network drive, each a folder of the prefix. Under Wine a folder-backed removable drive answers the
// is-writable request with ERROR_NOT_SUPPORTED, and its volume serial is read from a ".windows-serial"
// file (eight hexadecimal digits) in its root when there is one.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace testsupport {

inline std::wstring DriveRoot(wchar_t letter) { return std::wstring(1, letter) + L":\\"; }

// Empties the drives at the start and end of a scope: their contents are prefix-wide state, so tests
// that use them hold the prefix-state lock.
class EmptiedTestDrives {
public:
    explicit EmptiedTestDrives(std::vector<wchar_t> letters = {L'E', L'F', L'G', L'N'}) : letters_(letters) { Empty(); }
    ~EmptiedTestDrives() { Empty(); }
    EmptiedTestDrives(const EmptiedTestDrives&) = delete;
    EmptiedTestDrives& operator=(const EmptiedTestDrives&) = delete;

private:
    void Empty() const {
        for (wchar_t letter : letters_)
            for (const std::wstring& name : EntriesIn(std::wstring(1, letter) + L":")) RemoveTree(DriveRoot(letter) + name);
    }
    static void RemoveTree(const std::wstring& path) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(path.c_str())) return;
        for (const std::wstring& name : EntriesIn(path)) RemoveTree(path + L"\\" + name);
        RemoveDirectoryW(path.c_str());
    }
    std::vector<wchar_t> letters_;
};

}  // namespace testsupport
