#pragma once
// The worm's copies on removable and network drives: every such drive is looked at on a thread of its
// own, all within one bound, so that a share that is gone costs a few seconds and an "unchecked" line,
// never the scan. What each drive holds is judged by the examiner; this step only walks and reports.
#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "grimlet/common/WormCopyEvidence.h"
#include "grimlet/plugin/ScanRecord.h"

struct DriveToExamine {
    wchar_t letter = L'A';
    CopyDrive kind = CopyDrive::Removable;
    // Where the drive's root is reached, ending in a backslash; empty: "<letter>:\". Tests give a folder.
    std::wstring rootFolder;
    std::wstring Root() const { return rootFolder.empty() ? std::wstring(1, letter) + L":\\" : rootFolder; }
};

struct DriveCopyFound {
    std::wstring copyPath;  // "E:\x.dll"
    std::wstring infPath;   // "E:\autorun.inf"
    std::string sha1;       // of the bytes the verdict was made on
    WormCopyVerdict verdict = WormCopyVerdict::NotWorm;
};

struct DriveExamination {
    std::vector<DriveCopyFound> copies;
    std::vector<std::pair<std::wstring, std::wstring>> unchecked;  // what, why
};

class IDriveExaminer {
public:
    virtual ~IDriveExaminer() = default;
    // The removable and network drives there are now.
    virtual std::vector<DriveToExamine> Drives() = 0;
    // Runs on a thread of its own, which the step may give up while it still runs: it must touch only
    // its arguments and the examiner.
    virtual DriveExamination Examine(const DriveToExamine& drive, const std::vector<std::string>& provenSha1) = 0;
};

// Appends one record per worm copy found, and one unchecked record per drive or file that could not be
// looked at, including every drive that did not answer within `boundMs`.
void ScanDriveCopiesWith(std::shared_ptr<IDriveExaminer> examiner, const std::vector<std::string>& provenSha1,
                         DWORD boundMs, std::vector<ScanRecord>& results);

// The product's walk: the drives of this machine, within kDriveBoundMs.
constexpr DWORD kDriveBoundMs = 4000;
void ScanDriveCopies(const std::vector<std::string>& provenSha1, std::vector<ScanRecord>& results);

// "GRIMLET副本(自动运行):" with "驱动器:[E:] 文件:[E:\x.dll] 自动运行:[E:\autorun.inf]".
ScanRecord MakeDriveCopyRecord(const DriveCopyFound& found);
