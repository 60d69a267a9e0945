#pragma once
#include <windows.h>

#include <string>

// What the tool knows about one drive: its type and whether files on it can be changed.
class SKDeviceProfile {
public:
    explicit SKDeviceProfile(const std::wstring& root);
    const std::wstring& Root() const { return root_; }
    bool Writable() const { return writable_; }
    UINT DriveType() const { return driveType_; }

    // The decision for a drive type; `removableAnswer` is asked only for removable drives.
    template <typename AskDevice>
    static bool DecideWritable(UINT driveType, AskDevice removableAnswer) {
        if (driveType == DRIVE_REMOVABLE) return removableAnswer();
        if (driveType == DRIVE_CDROM) return false;
        return true;
    }

    // What the device's answer to the is-writable request means. Only a device that says it is
    // write-protected is read-only: one that cannot be asked (a card reader's driver, a volume that
    // does not support the request) may well take a change, and the change itself then tells, so
    // saying "read-only" there would turn a removal that worked into a reported failure.
    static bool AnswerMeansWritable(bool answered, DWORD error) { return answered || error != ERROR_WRITE_PROTECT; }

private:
    bool checkRemovableDeviceWrittable() const;

    std::wstring root_;
    bool writable_ = true;
    UINT driveType_ = DRIVE_UNKNOWN;
};

// Whether the drive `root` (a path's first two characters, such as "C:") can be written. The answer
// is cached for the rest of the process.
bool IsDriveWritable(const std::wstring& root);
