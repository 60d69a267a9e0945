// The scan manager: targets, the order scanners run in, merging findings, the watchdog, stopping.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "engine/SKScanManager.h"
#include "platform/system/OrdinalName.h"
#include "plugin_host/IFile.h"
#include "plugin_host/SKItemManager.h"
#include "tests/engine/RecordingUi.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestSupport.h"

namespace {

const char kLogName[] = "scan_manager_test.log";

// Drives as a test wants them: a bit mask and a type per letter.
class FakeDrives : public IDriveProbe {
public:
    DWORD LogicalDrives() override {
        ++queries;
        return mask;
    }
    UINT DriveType(const std::wstring& root) override {
        ++queries;
        auto found = types.find(root);
        return found == types.end() ? DRIVE_NO_ROOT_DIR : found->second;
    }
    DWORD mask = 0;
    std::map<std::wstring, UINT> types;
    int queries = 0;
};

class ScriptedGeneralScanner : public ISKGeneralScanner {
public:
    explicit ScriptedGeneralScanner(std::function<void(IScanCommunicator&)> body = nullptr) : body_(std::move(body)) {}
    std::wstring GetName() override { return L"general"; }
    int32_t GetId() override { return 1; }
    void SetReporter(IScanCommunicator* communicator) override { communicator_ = communicator; }
    int32_t Probe(int32_t) override { return 1; }
    void Cancel() override { ++cancels; }
    int32_t IsGeneral() override { return 1; }
    void Scan(void* items) override {
        ++scans;
        receivedItems = items;
        if (body_) body_(*communicator_);
    }
    int scans = 0;
    int cancels = 0;
    void* receivedItems = nullptr;

private:
    std::function<void(IScanCommunicator&)> body_;
    IScanCommunicator* communicator_ = nullptr;
};

class RecordingFileScanner : public ISKFileScanner {
public:
    RecordingFileScanner(int32_t targets, int32_t directories) : targets_(targets), directories_(directories) {}
    std::wstring GetName() override { return L"files"; }
    int32_t GetId() override { return 2; }
    void SetReporter(IScanCommunicator* communicator) override { communicator_ = communicator; }
    int32_t Probe(int32_t) override { return 1; }
    void Cancel() override {}
    int32_t IsGeneral() override { return 0; }
    void Scan(void* file) override {
        const std::wstring path = static_cast<IFile*>(file)->GetPath();
        scanned.push_back(path);
        if (onScan) onScan(path, *communicator_);
    }
    int32_t ScansTargetFiles() override { return targets_; }
    int32_t ScansDirectoryFiles() override { return directories_; }

    std::vector<std::wstring> scanned;
    std::function<void(const std::wstring&, IScanCommunicator&)> onScan;

private:
    int32_t targets_, directories_;
    IScanCommunicator* communicator_ = nullptr;
};

FindingRecord Finding(int32_t type, const std::wstring& name, int32_t severity, int32_t subRank,
                      const std::wstring& threat = L"Worm.Test", int32_t count = 1) {
    FindingRecord finding(1, L"handler");
    finding.itemType = type;
    finding.name = name;
    finding.severity = severity;
    finding.subRank = subRank;
    finding.threatName = threat;
    finding.threatClass = L"Virus";
    finding.count = count;
    return finding;
}

struct ScanFixture {
    ScanFixture() : drives(std::make_shared<FakeDrives>()), manager(&items, &ui, drives) {}
    SKItemManager items;
    RecordingUi ui;
    std::shared_ptr<FakeDrives> drives;
    SKScanManager manager;
};

}  // namespace

TEST(ScanManager, WithoutFileScannersOnlyGeneralScannersRunAndNoDriveIsLookedAt) {
    LogCapture log(kLogName);
    ScanFixture f;
    f.drives->mask = 0xFFFFFFFF;
    auto first = std::make_shared<ScriptedGeneralScanner>();
    auto second = std::make_shared<ScriptedGeneralScanner>();
    f.manager.AddGeneralScanner(1, second);
    f.manager.AddGeneralScanner(0, first);
    auto directoryOnly = std::make_shared<RecordingFileScanner>(0, 1);
    f.manager.AddFileScanner(0, directoryOnly);

    f.manager.Scan();

    EXPECT_EQ(1, first->scans);
    EXPECT_EQ(1, second->scans);
    EXPECT_EQ(&f.items, first->receivedItems);
    EXPECT_EQ(0, f.drives->queries);
    EXPECT_TRUE(f.items.TargetDirectories().empty());
    EXPECT_TRUE(f.manager.Finished());
    EXPECT_EQ(1u, log.Count("SKScanManager::EnumerateTargets() no file scanner; skip file enumeration"));
    EXPECT_EQ(1u, log.Count("SKScanManager::Scan() S_SCAN_THREAT_END"));
}

TEST(ScanManager, TargetsAreTheFixedDrivesFromCOnward) {
    ScanFixture f;
    f.drives->mask = 0x1F;  // A: to E:
    f.drives->types = {{L"A:\\", DRIVE_FIXED}, {L"B:\\", DRIVE_FIXED}, {L"C:\\", DRIVE_FIXED},
                       {L"D:\\", DRIVE_CDROM}, {L"E:\\", DRIVE_FIXED}, {L"F:\\", DRIVE_FIXED}};
    f.manager.AddFileScanner(0, std::make_shared<RecordingFileScanner>(1, 1));

    f.manager.EnumerateTargets();

    std::vector<std::wstring> roots;
    for (const auto& entry : f.items.TargetDirectories()) {
        roots.push_back(entry.second.path);
        EXPECT_EQ(1, entry.second.recursive);
        EXPECT_EQ(-1, entry.second.expectedFileCount);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\", L"E:\\"}), roots);
}

TEST(ScanManager, TargetFilesFirstThenDirectoriesAndNoFileIsScannedTwice) {
    LogCapture log(kLogName);
    testsupport::ScratchFolder tree(L"scantree");
    CreateDirectoryW((tree / L"sub").c_str(), nullptr);
    for (const wchar_t* name : {L"one.txt", L"two.txt", L"sub\\deep.txt"})
        ASSERT_TRUE(testsupport::WriteFileBytes(tree / name, "x"));
    ScanFixture f;
    auto scanner = std::make_shared<RecordingFileScanner>(1, 1);
    f.manager.AddFileScanner(0, scanner);
    f.items.AddTargetFile(tree / L"TWO.TXT");
    f.items.AddTargetDirectory(tree.Path(), 1);

    f.manager.Scan();

    ASSERT_EQ(3u, scanner->scanned.size());
    EXPECT_EQ(tree / L"TWO.TXT", scanner->scanned[0]);
    EXPECT_EQ(1u, log.Count("Skip Scanned File"));
    EXPECT_EQ(4, f.manager.FilesDone());
    // Each directory file shows how many files were handled before it, the target file included;
    // the total still carries the directory's unknown (-1) count.
    const auto lines = log.Matching("SKScanManager::scanDirectory() File(");
    ASSERT_EQ(3u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("File(1/0)"));
    EXPECT_NE(std::string::npos, lines[1].find("File(2/0)"));
    EXPECT_NE(std::string::npos, lines[2].find("File(3/0)"));
    EXPECT_TRUE(f.manager.Finished());
}

TEST(ScanManager, ANonRecursiveDirectoryScansOnlyItsOwnFiles) {
    testsupport::ScratchFolder tree(L"flattree");
    CreateDirectoryW((tree / L"sub").c_str(), nullptr);
    ASSERT_TRUE(testsupport::WriteFileBytes(tree / L"top.txt", "x"));
    ASSERT_TRUE(testsupport::WriteFileBytes(tree / L"sub\\below.txt", "x"));
    ScanFixture f;
    auto scanner = std::make_shared<RecordingFileScanner>(0, 1);
    f.manager.AddFileScanner(0, scanner);
    f.items.AddTargetDirectory(tree.Path(), 0);

    f.manager.Scan();

    EXPECT_EQ((std::vector<std::wstring>{tree / L"top.txt"}), scanner->scanned);
}

TEST(ScanManager, AFolderThatCannotBeListedIsLoggedAndTheScanGoesOn) {
    LogCapture log(kLogName);
    testsupport::ScratchFolder tree(L"gone");
    ASSERT_TRUE(testsupport::WriteFileBytes(tree / L"a.txt", "x"));
    ScanFixture f;
    auto scanner = std::make_shared<RecordingFileScanner>(0, 1);
    f.manager.AddFileScanner(0, scanner);
    f.items.AddTargetDirectory(tree / L"missing", 1);
    f.items.AddTargetDirectory(tree.Path(), 1);

    f.manager.Scan();

    EXPECT_EQ(1u, log.Count("SKCorvexScanner::scanDirectory() dirEnum->First("));
    EXPECT_EQ((std::vector<std::wstring>{tree / L"a.txt"}), scanner->scanned);
}

TEST(ScanManager, ATargetFileScanOfThreeWatchdogTicksLogsAThreeSecondTimeout) {
    LogCapture log(kLogName);
    testsupport::ScratchFolder tree(L"slow");
    ASSERT_TRUE(testsupport::WriteFileBytes(tree / L"slow.bin", "x"));
    ScanFixture f;
    auto scanner = std::make_shared<RecordingFileScanner>(1, 0);
    // The file's scan lasts until the watchdog has counted its third second.
    const SKScanManager& manager = f.manager;
    scanner->onScan = [&manager](const std::wstring&, IScanCommunicator&) {
        EXPECT_TRUE(testsupport::WaitUntil([&] { return manager.TicksOfCurrentFile() >= 3; }));
    };
    f.manager.AddFileScanner(0, scanner);
    f.items.AddTargetFile(tree / L"slow.bin");

    f.manager.Scan();

    const auto lines = log.Matching("SKScanManager::Scan() Timeout(");
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("Timeout(3000)"));
}

TEST(ScanManager, AStopEndsThePassAtItsNextCheckAndCancelsTheRunningScanner) {
    LogCapture log(kLogName);
    ScanFixture f;
    SKScanManager* manager = &f.manager;
    auto stopper = std::make_shared<ScriptedGeneralScanner>([manager](IScanCommunicator&) { manager->Stop(); });
    auto never = std::make_shared<ScriptedGeneralScanner>();
    auto files = std::make_shared<RecordingFileScanner>(1, 1);
    f.manager.AddGeneralScanner(0, stopper);
    f.manager.AddGeneralScanner(1, never);
    f.manager.AddFileScanner(0, files);
    f.items.AddTargetFile(L"C:\\never.txt");

    f.manager.Scan();

    EXPECT_EQ(1, stopper->cancels);
    EXPECT_EQ(0, never->scans);
    EXPECT_TRUE(files->scanned.empty());
    EXPECT_FALSE(f.manager.Finished());
    EXPECT_EQ(1u, log.Count("ScanThreadFunc scan_stop_error"));
}

TEST(ScanManager, MergingKeepsTheStrongerFindingAndTellsThePageOnlyOfNewThreats) {
    ScanFixture f;
    SKScanManager& m = f.manager;
    FindingRecord first = Finding(ItemType::File, L"C:\\bad.exe", 4, 1, L"First");
    m.ReportFinding(&first);
    FindingRecord stronger = Finding(ItemType::File, L"c:\\BAD.EXE", 4, 3, L"Stronger");
    m.ReportFinding(&stronger);
    FindingRecord weaker = Finding(ItemType::File, L"C:\\bad.exe", 3, 9, L"Weaker", 5);
    m.ReportFinding(&weaker);
    FindingRecord otherType = Finding(ItemType::Registry, L"C:\\bad.exe", 4, 1);
    m.ReportFinding(&otherType);

    ASSERT_EQ(2u, f.items.Results().size());
    const ScanResult& merged = *f.items.FindResult(0);
    EXPECT_EQ(L"c:\\BAD.EXE", merged.name);
    EXPECT_EQ(3, merged.subRank);
    EXPECT_EQ(L"Stronger", merged.threatName);
    EXPECT_EQ(7, merged.count);
    EXPECT_EQ(1, merged.excludedFromCleaning);
    EXPECT_EQ((std::vector<int32_t>{0, 1}), f.ui.FoundIds());
    EXPECT_EQ(L"First", f.ui.found[0].threatName);
    EXPECT_EQ(L"C:\\bad.exe", f.ui.found[0].description);
    ASSERT_EQ(4u, f.items.Findings().size());
    EXPECT_EQ(0, f.items.Findings()[2].resultId);
    EXPECT_EQ(1, f.items.Findings()[3].resultId);
}

TEST(ScanManager, PathsMergeWithCaseIgnoredButEveryCharacterCounted) {
    ScanFixture f;
    FindingRecord lower = Finding(ItemType::File, L"c:\\\u00E4rger.exe", 4, 1);
    FindingRecord upper = Finding(ItemType::File, L"C:\\\u00C4RGER.EXE", 4, 1);
    FindingRecord hyphenLate = Finding(ItemType::File, L"C:\\ab\u00AD.dll", 4, 1);
    FindingRecord hyphenEarly = Finding(ItemType::File, L"C:\\a\u00ADb.dll", 4, 1);
    for (FindingRecord* finding : {&lower, &upper, &hyphenLate, &hyphenEarly}) f.manager.ReportFinding(finding);

    ASSERT_EQ(3u, f.items.Results().size());
    EXPECT_EQ(2, f.items.FindResult(0)->count);
    EXPECT_EQ(L"C:\\a\u00ADb.dll", f.items.FindResult(2)->name);
    EXPECT_EQ(L"C:\\\u00C4RGER.EXE", UpperCaseOrdinal(L"c:\\\u00E4rger.exe"));
    EXPECT_EQ(1u, UpperCaseOrdinal(L"\u00DF").size()) << "one code unit in, one out";
}

TEST(ScanManager, AnItemRaisedToSeverityFourReachesThePageThen) {
    ScanFixture f;
    FindingRecord suspicious = Finding(ItemType::Process, L"evil.exe", 2, 1);
    f.manager.ReportFinding(&suspicious);
    ASSERT_NE(nullptr, f.items.FindResult(0));
    EXPECT_EQ(L"Suspicious", f.items.FindResult(0)->threatName);
    EXPECT_EQ(L"Suspicious", f.items.FindResult(0)->handlerName);
    EXPECT_TRUE(f.ui.found.empty());

    FindingRecord confirmed = Finding(ItemType::Process, L"EVIL.exe", 4, 1, L"Worm.Confirmed");
    f.manager.ReportFinding(&confirmed);
    ASSERT_EQ(1u, f.ui.found.size());
    EXPECT_EQ(0, f.ui.found[0].itemId);
    EXPECT_EQ(L"Worm.Confirmed", f.ui.found[0].threatName);
    EXPECT_EQ(L"handler", f.items.FindResult(0)->handlerName);
}

TEST(ScanManager, ADirectThreatReportIsNeverMergedAndAlwaysShown) {
    ScanFixture f;
    for (int i = 0; i < 2; ++i) {
        f.manager.ReportFindingFields(3, L"GRIMLET CLEANER", 1, 3, 7, 4097, L"same name", L"Worm.Grimlet", L"Virus",
                                      L"", L"");
    }
    f.manager.ReportFindingFields(3, L"GRIMLET CLEANER", 0, 3, 8, 4097, L"undetected", L"T", L"C", L"", L"");

    ASSERT_EQ(3u, f.items.Results().size());
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2}), f.ui.FoundIds());
    const ScanResult& first = *f.items.FindResult(0);
    EXPECT_EQ(7, first.sourceValue);
    EXPECT_EQ(4097, first.itemType);
    EXPECT_EQ(4, first.severity);
    EXPECT_EQ(3, first.subRank);
    EXPECT_EQ(0, first.count);
    EXPECT_EQ(L"GRIMLET CLEANER", first.handlerName);
    EXPECT_EQ(1, first.excludedFromCleaning);
    const ScanResult& undetected = *f.items.FindResult(2);
    EXPECT_EQ(0, undetected.severity);
    EXPECT_TRUE(undetected.handlerName.empty());
    EXPECT_TRUE(f.ui.found[2].threatName.empty());
}

TEST(ScanManager, AFileFoundDuringTheScanIsScannedAsATargetAndSkippedInItsFolder) {
    testsupport::ScratchFolder tree(L"found");
    ASSERT_TRUE(testsupport::WriteFileBytes(tree / L"evil.exe", "MZ"));
    ASSERT_TRUE(testsupport::WriteFileBytes(tree / L"clean.txt", "x"));
    ScanFixture f;
    const std::wstring evil = tree / L"evil.exe";
    auto general = std::make_shared<ScriptedGeneralScanner>([evil](IScanCommunicator& communicator) {
        FindingRecord finding = Finding(ItemType::File, evil, 4, 1);
        communicator.ReportFinding(&finding);
    });
    auto files = std::make_shared<RecordingFileScanner>(1, 1);
    f.manager.AddGeneralScanner(0, general);
    f.manager.AddFileScanner(0, files);
    f.items.AddTargetDirectory(tree.Path(), 1);

    f.manager.Scan();

    EXPECT_EQ((std::vector<std::wstring>{evil, tree / L"clean.txt"}), files->scanned);
    ASSERT_EQ(1u, f.items.TargetFiles().size());
    EXPECT_EQ(0, f.items.FindResult(0)->sourceValue);
}
