// Unattended use without the program around it: the command line, the report file and its fallback,
// and the run that drives an engine through the page's callback and turns the outcome into records and
// an exit code.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "app/unattended/CommandLineOptions.h"
#include "app/unattended/RunEvent.h"
#include "app/unattended/ScanReport.h"
#include "app/unattended/UnattendedRun.h"
#include "app/unattended/UnattendedStartUp.h"
#include "platform/system/FileUtility.h"
#include "platform/system/UtcTime.h"
#include "platform/system/Utf8.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;
using Mode = CommandLineOptions::Mode;

namespace {

TEST(CommandLine, SwitchesInEitherCaseAndWithEitherPrefix) {
    EXPECT_EQ(CommandLineOptions::Parse(L"").mode, Mode::Dialog);
    EXPECT_EQ(CommandLineOptions::Parse(L"  \t ").mode, Mode::Dialog);
    EXPECT_EQ(CommandLineOptions::Parse(L"/scan").mode, Mode::Scan);
    EXPECT_EQ(CommandLineOptions::Parse(L"-SCAN").mode, Mode::Scan);
    EXPECT_EQ(CommandLineOptions::Parse(L"/Clean /clean").mode, Mode::Clean);

    CommandLineOptions unc = CommandLineOptions::Parse(L"-Report=\\\\server\\share\\PC042.txt /CLEAN");
    EXPECT_EQ(unc.mode, Mode::Clean);
    EXPECT_EQ(unc.reportPath, L"\\\\server\\share\\PC042.txt");
    // Quotes around the whole switch or only the path; the path keeps its case.
    EXPECT_EQ(CommandLineOptions::Parse(L"/scan \"/report=C:\\My Reports\\A.txt\"").reportPath, L"C:\\My Reports\\A.txt");
    EXPECT_EQ(CommandLineOptions::Parse(L"/report=\"C:\\My Reports\\A.txt\" /scan").reportPath, L"C:\\My Reports\\A.txt");

    // A plain argument alone (a file dropped on the program) is no request: the dialog.
    EXPECT_EQ(CommandLineOptions::Parse(L"\"C:\\Users\\me\\Desktop\\x.txt\"").mode, Mode::Dialog);
    EXPECT_EQ(CommandLineOptions::Parse(L"scan").mode, Mode::Dialog);

    EXPECT_EQ(CommandLineOptions::Parse(L"/Quarantine /report=q.txt").mode, Mode::Quarantine);
    CommandLineOptions restore = CommandLineOptions::Parse(L"-RESTORE=0123456789abcdef0123456789ABCDEF01234567");
    EXPECT_EQ(restore.mode, Mode::Restore);
    EXPECT_EQ(restore.sha1, L"0123456789ABCDEF0123456789ABCDEF01234567");
}

TEST(CommandLine, AnythingNotUnderstoodIsRefusedWithItsReason) {
    struct Case {
        const wchar_t* line;
        const wchar_t* problem;
        const wchar_t* reportPath;
    } cases[] = {
        {L"/scan /bogus", L"unknown switch: /bogus", L""},
        {L"/bogus /report=r.txt", L"unknown switch: /bogus", L"r.txt"},
        {L"/report=r.txt", L"/report needs /scan, /clean, /quarantine or /restore=", L"r.txt"},
        {L"/scan /report=", L"the report switch names no file: /report=", L""},
        {L"/scan /report", L"unknown switch: /report", L""},
        {L"/scan /clean", L"only one of /scan, /clean, /quarantine and /restore= can be given", L""},
        {L"/clean /quarantine", L"only one of /scan, /clean, /quarantine and /restore= can be given", L""},
        {L"/restore=0123456789ABCDEF0123456789ABCDEF01234567 /scan",
         L"only one of /scan, /clean, /quarantine and /restore= can be given", L""},
        {L"/restore=0123456789ABCDEF0123456789ABCDEF0123456", L"not a SHA-1 of 40 hexadecimal digits: "
                                                            L"/restore=0123456789ABCDEF0123456789ABCDEF0123456", L""},
        {L"/restore=..\\..\\0123456789ABCDEF0123456789ABCDEF0123",
         L"not a SHA-1 of 40 hexadecimal digits: /restore=..\\..\\0123456789ABCDEF0123456789ABCDEF0123", L""},
        {L"/restore=", L"not a SHA-1 of 40 hexadecimal digits: /restore=", L""},
        // Switches select the unattended mode; a plain argument beside them is not understood.
        {L"scan /clean", L"unexpected argument: scan", L""},
        {L"/ /scan", L"unexpected argument: /", L""},
        {L"/scan /report=a.txt /report=b.txt", L"the report switch is given more than once", L"a.txt"},
    };
    for (const Case& c : cases) {
        CommandLineOptions options = CommandLineOptions::Parse(c.line);
        EXPECT_EQ(options.mode, Mode::Usage) << c.line;
        EXPECT_EQ(options.problem, c.problem) << c.line;
        EXPECT_EQ(options.reportPath, c.reportPath) << c.line;
    }
}

TEST(CommandLine, SplitsAsTheCRuntimeDoes) {
    EXPECT_EQ(SplitCommandLine(L"a  \"b c\"\td"), (std::vector<std::wstring>{L"a", L"b c", L"d"}));
    // Backslashes count only before a quote.
    EXPECT_EQ(SplitCommandLine(L"\\\\srv\\s a\\\\\\\"b \"c\\\\\""),
              (std::vector<std::wstring>{L"\\\\srv\\s", L"a\\\"b", L"c\\"}));
    EXPECT_EQ(SplitCommandLine(L"\"\" \"say \"\"hi\"\"\""), (std::vector<std::wstring>{L"", L"say \"hi\""}));
}

TEST(Report, RecordsAreOneUtf8LinePerRecordWhateverTheNamesHold) {
    EXPECT_EQ(ScanReport::Line(L"FOUND", {L"GRIMLET服务", L"a\tb\r\nc"}), "FOUND\tGRIMLET\xE6\x9C\x8D\xE5\x8A\xA1\ta?b??c");
    EXPECT_EQ(Utf8FromWide(L"\xD83D\xDE00 \xD800x \xDC00"), "\xF0\x9F\x98\x80 \xEF\xBF\xBDx \xEF\xBF\xBD");
    SYSTEMTIME utc = {};
    utc.wYear = 2009;
    utc.wMonth = 1;
    utc.wDay = 2;
    utc.wHour = 3;
    utc.wMinute = 4;
    utc.wSecond = 5;
    EXPECT_EQ(IsoUtcText(utc), L"2009-01-02T03:04:05Z");
}

ScanReport::FallbackFolder FallbackIn(const ScratchFolder& scratch) {
    const std::wstring root = scratch.Path();
    return [root] {
        return std::unique_ptr<ProtectedDataFolder>(new ProtectedDataFolder(root, {L"machine", L"Reports"}));
    };
}

TEST(Report, GoesWhereAskedOrElseToANewFileOfTheFallbackFolder) {
    ScratchFolder scratch(L"report");
    const std::wstring fallback = scratch / L"machine\\Reports";
    {
        ScanReport report(scratch / L"asked.txt", FallbackIn(scratch), L"PC-1.txt");
        report.Record(L"TIDEWASH", {L"1.60.0.1000"});
        report.RecordText(L"SUMMARY", L"found=0 removed=0");
        EXPECT_FALSE(report.WentElsewhere());
        EXPECT_EQ(report.Path(), scratch / L"asked.txt");
    }
    EXPECT_EQ(ReadFileBytes(scratch / L"asked.txt"), "TIDEWASH\t1.60.0.1000\r\nSUMMARY found=0 removed=0\r\n");
    EXPECT_FALSE(DirectoryExists(fallback));

    // A folder that does not exist: the fallback folder is made, and a second run never overwrites the
    // first one's file.
    for (int run = 0; run < 2; ++run) {
        ScanReport report(scratch / L"missing\\asked.txt", FallbackIn(scratch), L"PC-1.txt");
        report.Record(L"START", {L"run " + std::to_wstring(run)});
        EXPECT_TRUE(report.WentElsewhere());
        EXPECT_FALSE(report.Lost());
    }
    EXPECT_FALSE(DirectoryExists(scratch / L"missing"));
    EXPECT_EQ(ReadFileBytes(fallback + L"\\PC-1.txt"), "START\trun 0\r\n");
    EXPECT_EQ(ReadFileBytes(fallback + L"\\PC-1-2.txt"), "START\trun 1\r\n");

    // Nothing asked: straight to the fallback folder, which is not "elsewhere".
    ScanReport unasked(L"", FallbackIn(scratch), L"PC-2.txt");
    EXPECT_FALSE(unasked.WentElsewhere());
    EXPECT_EQ(unasked.Path(), fallback + L"\\PC-2.txt");

    // Without a fallback folder the records are lost, and the run says so.
    ScanReport nowhere(scratch / L"missing\\asked.txt", nullptr, L"PC-3.txt");
    nowhere.Record(L"START", {L"lost"});
    EXPECT_TRUE(nowhere.Lost());
}

// A name that leads to another file is never written through: a second hard link (which Wine makes;
// a symbolic link it cannot) or a folder. The file behind keeps its bytes, the report goes elsewhere.
TEST(Report, NeverWritesThroughASecondLinkOrIntoAFolder) {
    ScratchFolder scratch(L"report");
    ASSERT_TRUE(WriteFileBytes(scratch / L"system.ini", "precious"));
    ASSERT_TRUE(CreateHardLinkW((scratch / L"linked.txt").c_str(), (scratch / L"system.ini").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((scratch / L"folder.txt").c_str(), nullptr));
    for (const wchar_t* name : {L"linked.txt", L"folder.txt"}) {
        ScanReport report(scratch / name, FallbackIn(scratch), L"PC-1.txt");
        report.Record(L"TIDEWASH", {L"1.60.0.1000"});
        EXPECT_TRUE(report.WentElsewhere()) << Narrow(name);
        EXPECT_EQ(report.Path().rfind(scratch / L"machine\\Reports\\PC-1", 0), 0u) << Narrow(report.Path());
    }
    EXPECT_EQ(ReadFileBytes(scratch / L"system.ini"), "precious");

    // A folder of the path that is a link (the build's Unix symbolic link, shown as Windows shows a
    // junction), named in full or relative to the current directory: never entered.
    const std::wstring behind = BinFolder() + L"\\enum_links\\real\\report_behind.txt";
    ASSERT_TRUE(WriteFileBytes(behind, "behind the link"));
    {
        CurrentDirectoryGuard inBin(BinFolder());
        for (const std::wstring& path : {BinFolder() + L"\\enum_links\\link\\report_behind.txt",
                                         std::wstring(L"enum_links\\link\\report_behind.txt")}) {
            ScanReport report(path, FallbackIn(scratch), L"PC-1.txt");
            report.Record(L"TIDEWASH", {L"1.60.0.1000"});
            EXPECT_TRUE(report.WentElsewhere()) << Narrow(path);
        }
        EXPECT_EQ(ReadFileBytes(behind), "behind the link");
        // The same file by a path without a link is written.
        ScanReport plain(L"enum_links\\real\\report_behind.txt", FallbackIn(scratch), L"PC-1.txt");
        plain.Record(L"TIDEWASH", {L"1.60.0.1000"});
        EXPECT_FALSE(plain.WentElsewhere());
    }
    EXPECT_EQ(ReadFileBytes(behind), "TIDEWASH\t1.60.0.1000\r\n");
    DeleteFileW(behind.c_str());
    // A report at the root of a drive is written there.
    const std::wstring atRoot = L"C:\\tw-report-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    {
        ScanReport root(atRoot, FallbackIn(scratch), L"PC-1.txt");
        EXPECT_FALSE(root.WentElsewhere());
    }
    EXPECT_TRUE(FileExists(atRoot));
    DeleteFileW(atRoot.c_str());

    BY_HANDLE_FILE_INFORMATION plain = {};
    plain.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    plain.nNumberOfLinks = 1;
    EXPECT_TRUE(ScanReport::IsPlainFile(FILE_TYPE_DISK, plain));
    EXPECT_FALSE(ScanReport::IsPlainFile(FILE_TYPE_PIPE, plain));
    EXPECT_FALSE(ScanReport::IsPlainFile(FILE_TYPE_CHAR, plain));
    BY_HANDLE_FILE_INFORMATION link = plain;
    link.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;  // a symbolic link opened as itself
    EXPECT_FALSE(ScanReport::IsPlainFile(FILE_TYPE_DISK, link));
    BY_HANDLE_FILE_INFORMATION twoNames = plain;
    twoNames.nNumberOfLinks = 2;
    EXPECT_FALSE(ScanReport::IsPlainFile(FILE_TYPE_DISK, twoNames));
}

TEST(Report, TheExitCodeCarriesTheReportsFateWithoutHidingTheOutcome) {
    using unattended::WithReportOutcome;
    for (int outcome : {0, 1, 2, 3, 4}) {
        EXPECT_EQ(WithReportOutcome(outcome, false, false), outcome);
        EXPECT_EQ(WithReportOutcome(outcome, true, false), 16 + outcome);
        EXPECT_EQ(WithReportOutcome(outcome, true, true), 32 + outcome);
        EXPECT_EQ(WithReportOutcome(outcome, false, true), 32 + outcome);  // the machine's folder failed
    }
    for (int kept : {-1, 87, 170}) EXPECT_EQ(WithReportOutcome(kept, true, true), kept);
}

// An engine whose scan reports threats "A", "B", ... with ids 10, 11, ... and whose clean answers with
// the given outcomes.
class ScriptedEngine final : public IDetectionEngine {
public:
    bool Initialize(IUiProgressCB* ui) override {
        ui_ = ui;
        initialisedOn = GetCurrentThreadId();
        return initialiseSucceeds;
    }
    void Deinitialize() override { ++deinitialised; }
    bool Scan() override {
        for (int32_t i = 0; i < threats; ++i) ui_->OnItemFound({L"T", std::wstring(1, L'A' + i), 10 + i, false, L""});
        for (int32_t i = 0; i < unchecked; ++i) ui_->OnItemFound({L"why", L"key", 50 + i, true, L"Unchecked"});
        if (note) ui_->OnItemFound({L"not searched", L"64-bit processes", 60, true, L"Note"});
        if (setting) ui_->OnItemFound({L"自动播放", L"autorun.inf", 70, false, L"Setting", true});
        return true;
    }
    void Clean(const std::vector<int32_t>& itemIds) override {
        cleans.push_back(itemIds);
        for (int32_t id : itemIds)
            if (outcomes.count(id)) ui_->ReportCleanResult({id, outcomes[id], pluginOutcomes[id]});
        ui_->ReportCleanResult({99, 1, 0});  // an id the run never heard of
    }
    void Stop() override {}

    int32_t threats = 0;
    int32_t unchecked = 0;  // objects that could not be checked, after the threats
    bool note = false;
    bool setting = false;  // AutoRun left on, after everything else
    std::map<int32_t, int32_t> outcomes;  // item id -> outcome; absent: never answered
    std::map<int32_t, int32_t> pluginOutcomes;  // item id -> the plug-in's own code; absent: 0
    bool initialiseSucceeds = true;
    int deinitialised = 0;
    DWORD initialisedOn = 0;
    std::vector<std::vector<int32_t>> cleans;

private:
    IUiProgressCB* ui_ = nullptr;
};

class UnattendedRunTest : public ::testing::Test {
protected:
    // Runs once and returns the exit code; the report's lines land in `lines_`.
    int RunOnce(UnattendedRun::Work work) {
        const std::wstring path = scratch_ / L"run.txt";
        int code;
        {
            ScanReport report(path, nullptr, L"unused.txt");
            UnattendedRun run(engine_, report);
            code = run.Run(work);
            summary_ = run.GetSummary();
        }
        lines_ = SplitLines(ReadFileBytes(path));
        return code;
    }

    ScratchFolder scratch_{L"unattended"};
    ScriptedEngine engine_;
    std::vector<std::string> lines_;
    UnattendedRun::Summary summary_;
};

TEST_F(UnattendedRunTest, AScanReportsEveryThreatAndCleansNothing) {
    engine_.threats = 2;
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Scan), 1);
    EXPECT_TRUE(engine_.cleans.empty());
    EXPECT_EQ(lines_, (std::vector<std::string>{"FOUND\tT\tA", "FOUND\tT\tB"}));
    // On a worker thread of its own, as the dialog's engine.
    EXPECT_NE(engine_.initialisedOn, GetCurrentThreadId());
    EXPECT_NE(engine_.initialisedOn, 0u);
    engine_.threats = 0;
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Scan), 0);
    EXPECT_TRUE(lines_.empty());
}

// A setting left open is no threat: it is not a FOUND line and no count, yet a clean changes it, alone
// or after the threats, and whether that worked is counted apart.
TEST_F(UnattendedRunTest, ASettingIsCleanedWithTheThreatsButNeverCountedAsOne) {
    engine_.setting = true;
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Scan), 0);
    EXPECT_TRUE(lines_.empty());
    EXPECT_TRUE(engine_.cleans.empty());
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), 0);
    EXPECT_EQ(engine_.cleans, (std::vector<std::vector<int32_t>>{{70}}));
    EXPECT_EQ(summary_.found, 0);
    EXPECT_EQ(summary_.settingsFailed, 1);  // never answered
    engine_.threats = 1;
    engine_.outcomes = {{10, 1}, {70, 1}};
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), 2);
    EXPECT_EQ(engine_.cleans.back(), (std::vector<int32_t>{10, 70}));
    EXPECT_EQ(lines_, (std::vector<std::string>{"FOUND\tT\tA", "CLEANED\tA\tOK"}));
    EXPECT_EQ(summary_.found, 1);
    EXPECT_EQ(summary_.removed, 1);
    EXPECT_EQ(summary_.settingsChanged, 1);
    EXPECT_EQ(summary_.settingsFailed, 0);
}

TEST_F(UnattendedRunTest, ACleanChoosesEveryThreatInReportedOrderAndTheWorstOutcomeDecides) {
    engine_.threats = 3;
    struct Case {
        std::map<int32_t, int32_t> outcomes;
        int exitCode;
        const char* lastOutcome;
    } cases[] = {
        {{{10, 1}, {11, 1}, {12, 1}}, 2, "CLEANED\tC\tOK"},
        {{{10, 1}, {11, 1}, {12, 3}}, 3, "CLEANED\tC\tRESTART"},
        {{{10, 2}, {11, 3}, {12, 1}}, 4, "CLEANED\tC\tOK"},
        // An outcome the page would show as empty, and no answer at all: not removed either.
        {{{10, 1}, {11, 0}, {12, 3}}, 4, "CLEANED\tC\tRESTART"},
        {{{10, 1}, {11, 1}}, 4, "CLEANED\tC\tFAILED"},
        // The plug-in's reason goes with a failure: the cleanup engine's code above 16.
        {{{10, 1}, {11, 1}, {12, 2}}, 4, "CLEANED\tC\tFAILED\tplug-in outcome 22 (cleanup engine code 6)"},
    };
    for (const int32_t pluginOutcome : {22, 27, 31}) {
        engine_.pluginOutcomes = {{12, pluginOutcome}};
        // A DLL the engine never could read: its signer is unknown, not untrusted.
        const char* kUnreadable = "CLEANED\tC\tFAILED\tplug-in outcome 27 (cleanup engine code 11): the DLL could not be "
                                  "read, its signer is unknown";
        for (const Case& c : cases) {
            engine_.outcomes = c.outcomes;
            EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), c.exitCode);
            ASSERT_EQ(lines_.size(), 6u);
            EXPECT_EQ(lines_[3], "CLEANED\tA\t" + std::string(c.outcomes.at(10) == 1 ? "OK" : "FAILED"));
            const bool reasoned = std::string(c.lastOutcome).find("plug-in outcome") != std::string::npos;
            // A write-protected stick: the engine's reason, in the words of a file on a read-only device.
            const char* kReadOnly = "CLEANED\tC\tFAILED\tplug-in outcome 31 (cleanup engine code 15): File is on a "
                                    "read-only device";
            EXPECT_EQ(lines_[5], !reasoned              ? std::string(c.lastOutcome)
                                 : pluginOutcome == 27 ? std::string(kUnreadable)
                                 : pluginOutcome == 31 ? std::string(kReadOnly)
                                                       : std::string(c.lastOutcome));
            EXPECT_EQ(summary_.found, 3);
            EXPECT_EQ(summary_.removed + summary_.failed + summary_.restart, 3);
        }
    }
    EXPECT_EQ(engine_.cleans.back(), (std::vector<int32_t>{10, 11, 12}));

    // Nothing found: no clean at all, as with the page's automatic cleaning.
    engine_.threats = 0;
    engine_.cleans.clear();
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), 0);
    EXPECT_TRUE(engine_.cleans.empty());
}

// What could not be checked is never a threat and never a clean bill: 5 instead of 0 or 2 only. A note
// changes nothing.
TEST_F(UnattendedRunTest, WhatCouldNotBeCheckedIsReportedNeverCleanedAndGives5InsteadOf0Or2) {
    engine_.unchecked = 1;
    engine_.note = true;
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Scan), 5);
    EXPECT_EQ(lines_, (std::vector<std::string>{"UNCHECKED\tkey\twhy", "NOTE\t64-bit processes\tnot searched"}));
    EXPECT_EQ(summary_.found, 0);
    EXPECT_EQ(summary_.unchecked, 1);
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), 5);
    EXPECT_TRUE(engine_.cleans.empty()) << "nothing to clean";

    engine_.threats = 2;
    for (const auto& c : std::vector<std::pair<std::map<int32_t, int32_t>, int>>{
             {{{10, 1}, {11, 1}}, 5}, {{{10, 1}, {11, 3}}, 3}, {{{10, 1}, {11, 2}}, 4}}) {
        engine_.outcomes = c.first;
        EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), c.second);
        EXPECT_EQ(engine_.cleans.back(), (std::vector<int32_t>{10, 11})) << "the unchecked key is never chosen";
    }
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Scan), 1);
    engine_.unchecked = 0;
    engine_.outcomes = {{10, 1}, {11, 1}};
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), 2) << "a note alone changes nothing";
    EXPECT_EQ(unattended::WithReportOutcome(5, true, false), 21);
    EXPECT_EQ(unattended::WithReportOutcome(5, false, true), 37);
}

// The one event a run leaves in the Application log (Wine keeps none: its content is checked here).
TEST(RunEvent, SaysModeExitCodeCountsAndReportAndIsAnErrorOrWarningWhenTheRunCouldNotStart) {
    UnattendedRun::Summary summary;
    summary.found = 2;
    summary.removed = 1;
    summary.restart = 1;
    const unattended::RunEvent restart = unattended::MakeRunEvent(L"clean", 19, &summary, L"C:\\R\\PC-1.txt");
    EXPECT_EQ(restart.type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(restart.id, 119u);
    EXPECT_EQ(restart.text, L"Tidewash clean: exit code 19 (all removed; a restart finishes the removal); found=2 "
                            L"removed=1 failed=0 restart=1 unchecked=0; report: C:\\R\\PC-1.txt");
    summary = UnattendedRun::Summary();
    EXPECT_EQ(unattended::MakeRunEvent(L"scan", 0, &summary, L"r.txt").type, EVENTLOG_INFORMATION_TYPE);

    const unattended::RunEvent notPrepared = unattended::MakeRunEvent(L"clean", -1, nullptr, L"r.txt");
    EXPECT_EQ(notPrepared.type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(notPrepared.id, 99u);
    EXPECT_EQ(notPrepared.text,
              L"Tidewash clean: exit code -1 (the components could not be prepared; nothing was done); report: r.txt");
    const unattended::RunEvent busy = unattended::MakeRunEvent(L"scan", 170, nullptr, L"");
    EXPECT_EQ(busy.type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(busy.id, 270u);
    EXPECT_EQ(busy.text, L"Tidewash scan: exit code 170 (another Tidewash run is in progress; nothing was done); "
                         L"report: none could be written");
    EXPECT_EQ(unattended::MakeRunEvent(L"usage", 87, nullptr, L"").type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(unattended::MakeRunEvent(L"clean", 4, &summary, L"r").type, EVENTLOG_ERROR_TYPE);
}

// A clean that needs a restart, whose report cannot be written where asked: 3 + 16, as the program ends.
TEST_F(UnattendedRunTest, ARestartNeededWithAReportElsewhereGives19) {
    engine_.threats = 1;
    engine_.outcomes = {{10, 3}};
    ScanReport report(scratch_ / L"missing\\run.txt", [this] {
        return std::unique_ptr<ProtectedDataFolder>(new ProtectedDataFolder(scratch_.Path(), {L"Reports"}));
    }, L"PC.txt");
    UnattendedRun run(engine_, report);
    const int outcome = run.Run(UnattendedRun::Work::Clean);
    EXPECT_EQ(outcome, 3);
    EXPECT_EQ(unattended::WithReportOutcome(outcome, report.WentElsewhere(), report.Lost()), 19);
}

TEST_F(UnattendedRunTest, AnEngineThatCannotStartIsAnErrorLineAndMinusOne) {
    engine_.initialiseSucceeds = false;
    engine_.threats = 1;
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), -1);
    EXPECT_EQ(engine_.deinitialised, 1);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].rfind("ERROR\t", 0), 0u) << lines_[0];
}

}  // namespace
