#include "grimlet/plugin/DriveCopyStep.h"

#include "grimlet/plugin/BoundedWork.h"
#include "grimlet/plugin/DriveCopyExaminer.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"GrimletDrives";

namespace {

const wchar_t kTitle[] = L"GRIMLET副本(自动运行):";

// What one drive's thread hands back; shared with a thread that may be given up.
struct DriveOutcome {
    DriveExamination examination;
};

}  // namespace

ScanRecord MakeDriveCopyRecord(const DriveCopyFound& found) {
    ScanRecord record;
    record.kind = kScanRecordDriveCopy;
    record.title = kTitle;
    const std::wstring drive = found.copyPath.substr(0, 2);
    record.detail = L"驱动器:[" + drive + L"] 文件:[" + found.copyPath + L"] 自动运行:[" + found.infPath + L"]";
    record.objectPath = found.copyPath;
    record.relatedPath = found.infPath;
    record.sha1 = found.sha1;
    return record;
}

void ScanDriveCopiesWith(std::shared_ptr<IDriveExaminer> examiner, const std::vector<std::string>& provenSha1,
                         DWORD boundMs, std::vector<ScanRecord>& results) {
    TW_LOG_SCOPE("ScanDriveCopies()");
    const std::vector<DriveToExamine> drives = examiner->Drives();
    std::vector<std::shared_ptr<DriveOutcome>> outcomes;
    std::vector<std::function<void()>> works;
    for (const DriveToExamine& drive : drives) {
        auto outcome = std::make_shared<DriveOutcome>();
        outcomes.push_back(outcome);
        works.push_back([examiner, drive, provenSha1, outcome] {
            outcome->examination = examiner->Examine(drive, provenSha1);
        });
    }
    const std::vector<BoundedWork::Outcome> ran = BoundedWork::RunAll(std::move(works), boundMs);
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const std::wstring root = drives[i].Root();
        const char* kind = drives[i].kind == CopyDrive::Removable ? "removable" : "network";
        if (ran[i] != BoundedWork::Outcome::Done) {
            const bool givenUp = ran[i] == BoundedWork::Outcome::GivenUp;
            TW_LOG(LogLevel::Warning, "%s drive %S %s", kind, root.c_str(),
                   givenUp ? "did not answer in time" : "could not be looked at (no thread)");
            results.push_back(InformationRecord(
                kScanRecordUnchecked, L"drive " + root,
                givenUp ? L"drive did not answer within " + std::to_wstring((boundMs + 999) / 1000) + L" s"
                        : std::wstring(L"drive could not be looked at (no thread)")));
            continue;
        }
        // Done: the thread has ended, so its outcome is no longer shared.
        const DriveExamination& examination = outcomes[i]->examination;
        TW_LOG(LogLevel::Info, "%s drive %S: %d worm copies, %d unchecked", kind, root.c_str(),
               static_cast<int>(examination.copies.size()), static_cast<int>(examination.unchecked.size()));
        for (const DriveCopyFound& found : examination.copies) {
            TW_LOG(LogLevel::Info, "worm copy %S (%s) started by %S, SHA-1 %s", found.copyPath.c_str(),
                   WormCopyVerdictName(found.verdict), found.infPath.c_str(), found.sha1.c_str());
            results.push_back(MakeDriveCopyRecord(found));
        }
        for (const auto& gap : examination.unchecked)
            results.push_back(InformationRecord(kScanRecordUnchecked, gap.first, gap.second));
    }
}

void ScanDriveCopies(const std::vector<std::string>& provenSha1, std::vector<ScanRecord>& results) {
    ScanDriveCopiesWith(std::make_shared<DriveCopyExaminer>(), provenSha1, kDriveBoundMs, results);
}
