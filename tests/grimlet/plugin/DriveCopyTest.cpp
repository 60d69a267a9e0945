// The worm's copies on drives as the plug-in finds and removes them: the walk within its bound, the
// examiner on a drive letter of its own, and the removal's refusal of a write-protected drive.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "grimlet/common/AutoRunInf.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/plugin/CopyAndTaskRemoval.h"
#include "grimlet/plugin/DriveCopyExaminer.h"
#include "grimlet/services/MendrelLauncher.h"
#include "platform/win32/KernelHandle.h"
#include "plugin_host/PluginInterface.h"
#include "tests/support/TestSupport.h"

namespace {

// Drive N: never answers until the test lets it go, as a share that is gone.
class StandInExaminer final : public IDriveExaminer {
public:
    std::vector<DriveToExamine> Drives() override {
        return {{L'E', CopyDrive::Removable, L""}, {L'N', CopyDrive::Remote, L""}, {L'O', CopyDrive::Remote, L""}};
    }
    DriveExamination Examine(const DriveToExamine& drive, const std::vector<std::string>& proven) override {
        DriveExamination examination;
        if (drive.letter == L'N' || drive.letter == L'O') {
            WaitForSingleObject(release.Get(), INFINITE);
            return examination;
        }
        examination.copies.push_back({L"E:\\sys\\x.dll", L"E:\\autorun.inf", proven.at(0), WormCopyVerdict::SameAsProven});
        examination.unchecked.emplace_back(L"file E:\\y.dll", L"could not be read");
        return examination;
    }
    KernelHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

void Write(const std::wstring& path, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(testsupport::WriteFileBytes(path, bytes));
    SetFileAttributesW(path.c_str(), attributes);
}

}  // namespace

TEST(DriveCopyStep, ADriveThatDoesNotAnswerIsUncheckedWhileTheOthersReport) {
    auto examiner = std::make_shared<StandInExaminer>();
    std::vector<ScanRecord> results;
    ScanDriveCopiesWith(examiner, {"AA11"}, 200, results);
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[0].kind, kScanRecordDriveCopy);
    EXPECT_EQ(results[0].title, L"GRIMLET副本(自动运行):");
    EXPECT_EQ(results[0].detail, L"驱动器:[E:] 文件:[E:\\sys\\x.dll] 自动运行:[E:\\autorun.inf]");
    EXPECT_EQ(results[0].objectPath, L"E:\\sys\\x.dll");
    EXPECT_EQ(results[0].relatedPath, L"E:\\autorun.inf");
    EXPECT_EQ(results[0].sha1, "AA11");
    EXPECT_EQ(results[1].kind, kScanRecordUnchecked);
    EXPECT_EQ(results[1].detail, L"file E:\\y.dll");
    // Both dead shares are given up within the one bound of the walk.
    for (int i = 2; i < 4; ++i) {
        EXPECT_EQ(results[i].kind, kScanRecordUnchecked);
        EXPECT_EQ(results[i].title, L"drive did not answer within 1 s");
    }
    EXPECT_EQ(results[2].detail, L"drive N:\\");
    EXPECT_EQ(results[3].detail, L"drive O:\\");
    SetEvent(examiner->release.Get());  // the given-up threads end on their own, holding the examiner
}

TEST(DriveCopyExaminer, OnlyPositiveEvidenceMakesAFileTheWormsCopy) {
    // The drive's root is a folder here: the examiner reads only below the root it is given.
    testsupport::ScratchFolder stick(L"stick");
    const wchar_t drive = L'E';
    const std::wstring root = stick.Path() + L"\\";
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::string dll = testsupport::ReadFileBytes(std::wstring(system) + L"\\version.dll");  // an unsigned PE DLL here
    ASSERT_FALSE(dll.empty());
    CreateDirectoryW((stick / L"sys").c_str(), nullptr);
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    Write(stick / L"sys\\x.dll", dll, hiddenSystem);
    Write(stick / L"setup.exe", dll);
    const std::string inf = "[autorun]\r\nopen=rundll32.exe sys\\x.dll,Run\r\nshell\\install\\command=setup.exe\r\n";
    Write(stick / L"autorun.inf", inf, hiddenSystem);
    DriveCopyExaminer examiner;
    const DriveToExamine removable{drive, CopyDrive::Removable, root};
    const DriveToExamine share{drive, CopyDrive::Remote, root};

    // A stick from another machine: an unsigned DLL and its starter, both hidden and system.
    DriveExamination found = examiner.Examine(removable, {});
    ASSERT_EQ(found.copies.size(), 1u);
    EXPECT_EQ(found.copies[0].copyPath, root + L"sys\\x.dll");
    EXPECT_EQ(found.copies[0].infPath, root + L"autorun.inf");
    EXPECT_EQ(found.copies[0].verdict, WormCopyVerdict::InfectedStick);
    const std::string sha1 = found.copies[0].sha1;
    EXPECT_EQ(sha1.size(), 40u);
    // On a share the attributes prove nothing; the bytes of this machine's worm DLL do, anywhere.
    EXPECT_TRUE(examiner.Examine(share, {}).copies.empty());
    found = examiner.Examine(share, {sha1});
    ASSERT_EQ(found.copies.size(), 1u);
    EXPECT_EQ(found.copies[0].verdict, WormCopyVerdict::SameAsProven);
    // Plain attributes on the starter: not the worm's stick.
    SetFileAttributesW((stick / L"autorun.inf").c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(examiner.Examine(removable, {}).copies.empty());

    // What cannot be read is said, never guessed: an oversized starter, and a rundll32 action on this drive
    // whose file cannot be named safely. A folder of the name is the common "vaccine": nothing to say.
    Write(stick / L"autorun.inf", std::string(AutoRunInf::kMaxBytes + 1, 'x'), hiddenSystem);
    found = examiner.Examine(removable, {sha1});
    EXPECT_TRUE(found.copies.empty());
    ASSERT_EQ(found.unchecked.size(), 1u);
    EXPECT_EQ(found.unchecked[0].first, L"file " + root + L"autorun.inf");
    Write(stick / L"autorun.inf", "[AutoRun]\r\nopen=rundll32 sys\\..\\sys\\x.dll,Run\r\nshellexecute=rundll32 C:\\x.dll,Run\r\n",
          hiddenSystem);
    found = examiner.Examine(removable, {sha1});
    ASSERT_EQ(found.unchecked.size(), 1u) << "another drive's file is that drive's business";
    EXPECT_EQ(found.unchecked[0].second.rfind(L"its open action: ", 0), 0u);
    SetFileAttributesW((stick / L"autorun.inf").c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW((stick / L"autorun.inf").c_str());
    CreateDirectoryW((stick / L"autorun.inf").c_str(), nullptr);
    found = examiner.Examine(removable, {sha1});
    EXPECT_TRUE(found.unchecked.empty() && found.copies.empty());
    RemoveDirectoryW((stick / L"autorun.inf").c_str());
}

TEST(DriveCopyRemoval, AWriteProtectedDriveFailsWithItsReasonAndTheEnginesWordIsChecked) {
    ScanRecord record = MakeDriveCopyRecord({L"E:\\sys\\x.dll", L"E:\\autorun.inf", "AA11", WormCopyVerdict::SameAsProven});
    EXPECT_EQ(BuildDriveCopyCommandLine(L"C:\\w\\plugin", record.objectPath, record.relatedPath, record.sha1),
              L"\"C:\\w\\plugin\\RunMendrel\" -assign=WORM_GRIMLET. -COPY=\"E:\\sys\\x.dll\" -AUTORUN=\"E:\\autorun.inf\" "
              L"-SHA1=AA11");
    EXPECT_EQ(BuildTaskCommandLine(L"C:\\w\\plugin", L"At1.job", "BB22"),
              L"\"C:\\w\\plugin\\RunMendrel\" -assign=WORM_GRIMLET. -TASK=\"At1.job\" -SHA1=BB22");
    EXPECT_TRUE(BuildTaskCommandLine(L"C:\\w", std::wstring(2100, L'a'), "BB22").empty());

    static std::wstring asked;
    const int readOnly = CleanDriveCopyRecordWith(record, L"C:\\no-engine-here", [](const std::wstring& root) {
        asked = root;
        return false;
    });
    EXPECT_EQ(asked, L"E:");
    EXPECT_EQ(readOnly, kCleanOutcomeEngineBase + MendrelExitCode::ReadOnlyMedium);
    // A drive that takes changes goes to the engine; with none there the removal has failed.
    EXPECT_EQ(CleanDriveCopyRecordWith(record, L"C:\\no-engine-here", [](const std::wstring&) { return true; }),
              kPluginCleanFailed);

    // The engine's "removed" counts only when the object is gone when looked at.
    EXPECT_EQ(EngineRemovalOutcome(true, MendrelExitCode::Removed, true), kPluginCleanDone);
    EXPECT_EQ(EngineRemovalOutcome(true, MendrelExitCode::Removed, false), kPluginCleanFailed);
    EXPECT_EQ(EngineRemovalOutcome(false, MendrelExitCode::Removed, true), kPluginCleanFailed);
    EXPECT_EQ(EngineRemovalOutcome(true, MendrelExitCode::NoLongerProven, false),
              kCleanOutcomeEngineBase + MendrelExitCode::NoLongerProven);
}

// The walk takes the removable and network drives of the test prefix, and no fixed one.
TEST(DriveCopyExaminer, TheRemovableAndNetworkDrivesAreWalked) {
    std::vector<std::pair<wchar_t, CopyDrive>> drives;
    for (const DriveToExamine& drive : DriveCopyExaminer().Drives()) drives.emplace_back(drive.letter, drive.kind);
    const std::vector<std::pair<wchar_t, CopyDrive>> expected = {
        {L'E', CopyDrive::Removable}, {L'F', CopyDrive::Removable}, {L'G', CopyDrive::Removable}, {L'N', CopyDrive::Remote}};
    EXPECT_EQ(drives, expected);
}
