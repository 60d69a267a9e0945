#pragma once
// What the root of one removable or network drive holds: an autorun.inf whose actions start a file of
// that drive through rundll32, and for each such file the facts the evidence rules ask for, all read
// through handles opened once, never through a link.
#include "grimlet/plugin/DriveCopyStep.h"

class DriveCopyExaminer final : public IDriveExaminer {
public:
    // A copy is read whole to be hashed (in blocks); the worm's DLL is a few hundred KiB, and a bigger file is
    // reported unchecked rather than read for minutes over a slow share.
    static constexpr uint64_t kMaxCopyBytes = 32u << 20;

    std::vector<DriveToExamine> Drives() override;
    DriveExamination Examine(const DriveToExamine& drive, const std::vector<std::string>& provenSha1) override;
};
