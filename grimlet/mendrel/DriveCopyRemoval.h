#pragma once
// RunMendrel.exe -COPY="X:\...\file" -AUTORUN="X:\autorun.inf" -SHA1=<hex>: the worm's copy on a
// removable or network drive and the autorun.inf that starts it, removed together as one quarantine
// entry; and the way back, -restore=<id> of that entry. Each returns one of MendrelExitCode.
#include <windows.h>

#include <string>

#include "grimlet/mendrel/QuarantineStore.h"

// What the engine asks of a drive: the system's answers, or a test's where Wine cannot give them (it
// answers no removable drive's write check, and keeps a volume's serial for the life of its server).
struct DriveChecks {
    // Whether the drive ("E:") takes changes: the device's write check.
    bool (*isWritable)(const std::wstring& drive);
    // The serial number of the volume that an open file or folder lies on.
    bool (*volumeSerial)(HANDLE file, DWORD& serial);

    static DriveChecks System();
};

class DriveCopyRemoval {
public:
    DriveCopyRemoval(QuarantineStore& store, DriveChecks checks) : store_(store), checks_(checks) {}

    // Both files are opened once, without following a link, and nobody may change them while they are
    // held. On those handles, just before anything changes, the copy must still have `sha1` and the
    // autorun.inf must still start it through rundll32 (NoLongerProven otherwise); the drive must be a
    // removable or network drive that takes changes (ReadOnlyMedium). Both are copied into the
    // quarantine and recorded as one entry (QuarantineFailed, nothing changed, when that fails), then
    // deleted through their handles.
    int Remove(const std::wstring& copyPath, const std::wstring& autorunPath, const std::string& sha1);

    // Puts both files back with their attributes, only on the volume they were taken from (the letter
    // may name another stick now) and only where neither path is taken (RestoreRefused otherwise,
    // nothing changed); the stored copies must hold the recorded bytes (QuarantineUnreadable).
    int Restore(const QuarantineEntry& entry);

private:
    QuarantineStore& store_;
    DriveChecks checks_;
};
