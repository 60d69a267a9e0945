#pragma once
// The test run's extra drives (tools/wine_env.sh, make_test_drives): E:, F: and G: removable drives
// (Wine's "floppy" type) and N: a network drive, each backed by a folder of the prefix
// ($WINEPREFIX/drive_e ... drive_n). The worm puts its copies and an autorun.inf in their
// roots, so every test that writes there holds the prefix-state lock (CHANGES_PREFIX) and empties the
// drive before and after.
//
// What Wine 8.0 answers for them (measured on both tiers):
// - GetDriveTypeW: DRIVE_REMOVABLE for E:, DRIVE_REMOTE for N:.
// - "\\.\E:" opens with no access rights, but IOCTL_DISK_IS_WRITABLE fails with ERROR_NOT_SUPPORTED
//   (as for every Wine drive). The write check of platform/system/DeviceProfile takes only "write-
//   protected" for read-only, so the folder-backed floppy counts as writable; a write-protected stick
//   is shown through the write-check seams; real Windows answers for a real stick.
// - The volume serial (GetVolumeInformationW and GetFileInformationByHandle alike) is the drive letter
//   in the top byte (E: 0x45000000, N: 0x4E000000), unless the drive's root holds ".windows-serial"
//   (hexadecimal text), which the mount manager reads once, when the prefix's server starts. A test
//   cannot change a volume's serial while it runs: a changed volume is shown through a seam too. No
//   test may leave a ".windows-serial" behind.
#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

constexpr wchar_t kRemovableTestDrive = L'E';
constexpr wchar_t kNetworkTestDrive = L'N';

// "E:\" for 'E'.
inline std::wstring TestDriveRoot(wchar_t letter) { return std::wstring(1, letter) + L":\\"; }

namespace detail {
inline void EmptyFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        // A link is removed, never entered.
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            EmptyFolder(path + L"\\");
            RemoveDirectoryW(path.c_str());
        } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveDirectoryW(path.c_str());
        } else {
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}
}  // namespace detail

// Deletes everything on the drive (hidden, system and read-only files too); true when the root is
// empty afterwards.
inline bool EmptyTestDrive(wchar_t letter) {
    const std::wstring root = TestDriveRoot(letter);
    detail::EmptyFolder(root);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((root + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") empty = false;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return empty;
}

// Empties the drive for a scope: at its start and at its end.
class EmptiedTestDrive {
public:
    explicit EmptiedTestDrive(wchar_t letter) : letter_(letter) { emptied_ = EmptyTestDrive(letter_); }
    ~EmptiedTestDrive() { EmptyTestDrive(letter_); }
    EmptiedTestDrive(const EmptiedTestDrive&) = delete;
    EmptiedTestDrive& operator=(const EmptiedTestDrive&) = delete;
    bool Emptied() const { return emptied_; }
    std::wstring Root() const { return TestDriveRoot(letter_); }

private:
    wchar_t letter_;
    bool emptied_ = false;
};

// Empties several test drives for a scope.
class EmptiedTestDrives {
public:
    explicit EmptiedTestDrives(std::vector<wchar_t> letters = {L'E', L'F', L'G', L'N'}) : letters_(letters) {
        for (wchar_t letter : letters_) EmptyTestDrive(letter);
    }
    ~EmptiedTestDrives() {
        for (wchar_t letter : letters_) EmptyTestDrive(letter);
    }
    EmptiedTestDrives(const EmptiedTestDrives&) = delete;
    EmptiedTestDrives& operator=(const EmptiedTestDrives&) = delete;

private:
    std::vector<wchar_t> letters_;
};

}  // namespace testsupport
