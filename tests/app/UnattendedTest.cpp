// Unattended use without the program around it: the command line, the report file and its fallback,
// and the run that drives an engine through the page's callback and turns the outcome into records and
// an exit code.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "app/CommandLineOptions.h"
#include "app/ScanReport.h"
#include "app/UnattendedRun.h"
#include "platform/system/Utf8.h"
#include "platform/system/UtcTime.h"
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
}

TEST(CommandLine, AnythingNotUnderstoodIsRefusedWithItsReason) {
    struct Case {
        const wchar_t* line;
        const wchar_t* problem;
        const wchar_t* reportPath;
    } cases[] = {
        {L"/scan /bogus", L"unknown switch: /bogus", L""},
        {L"/bogus /report=r.txt", L"unknown switch: /bogus", L"r.txt"},
        {L"/report=r.txt", L"/report needs /scan or /clean", L"r.txt"},
        {L"/scan /report=", L"the report switch names no file: /report=", L""},
        {L"/scan /report", L"unknown switch: /report", L""},
        {L"/scan /clean", L"/scan and /clean cannot be given together", L""},
        {L"scan", L"unexpected argument: scan", L""},
        {L"/", L"unexpected argument: /", L""},
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

TEST(Report, GoesWhereAskedOrElseToANewFileOfTheFallbackFolder) {
    ScratchFolder scratch(L"report");
    const std::wstring fallback = scratch / L"machine\\Reports";
    {
        ScanReport report(scratch / L"asked.txt", fallback, L"PC-1.txt");
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
        ScanReport report(scratch / L"missing\\asked.txt", fallback, L"PC-1.txt");
        report.Record(L"START", {L"run " + std::to_wstring(run)});
        EXPECT_TRUE(report.WentElsewhere());
    }
    EXPECT_FALSE(DirectoryExists(scratch / L"missing"));
    EXPECT_EQ(ReadFileBytes(fallback + L"\\PC-1.txt"), "START\trun 0\r\n");
    EXPECT_EQ(ReadFileBytes(fallback + L"\\PC-1-2.txt"), "START\trun 1\r\n");

    // Nothing asked: straight to the fallback folder, which is not "elsewhere".
    ScanReport unasked(L"", fallback, L"PC-2.txt");
    EXPECT_FALSE(unasked.WentElsewhere());
    EXPECT_EQ(unasked.Path(), fallback + L"\\PC-2.txt");
}

// An engine whose scan reports threats "A", "B", ... with ids 10, 11, ... and whose clean answers with
// the given outcomes.
class ScriptedEngine final : public IDetectionEngine {
public:
    bool Initialize(IUiProgressCB* ui) override {
        ui_ = ui;
        return initialiseSucceeds;
    }
    void Deinitialize() override { ++deinitialised; }
    bool Scan() override {
        for (int32_t i = 0; i < threats; ++i) ui_->OnItemFound({L"T", std::wstring(1, L'A' + i), 10 + i});
        return true;
    }
    void Clean(const std::vector<int32_t>& itemIds) override {
        cleans.push_back(itemIds);
        for (int32_t id : itemIds)
            if (outcomes.count(id)) ui_->ReportCleanResult({id, outcomes[id]});
        ui_->ReportCleanResult({99, 1});  // an id the run never heard of
    }
    void Stop() override {}

    int32_t threats = 0;
    std::map<int32_t, int32_t> outcomes;  // item id -> outcome; absent: never answered
    bool initialiseSucceeds = true;
    int deinitialised = 0;
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
            ScanReport report(path, scratch_.Path(), L"unused.txt");
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
    engine_.threats = 0;
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Scan), 0);
    EXPECT_TRUE(lines_.empty());
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
    };
    for (const Case& c : cases) {
        engine_.outcomes = c.outcomes;
        EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), c.exitCode);
        ASSERT_EQ(lines_.size(), 6u);
        EXPECT_EQ(lines_[3], "CLEANED\tA\t" + std::string(c.outcomes.at(10) == 1 ? "OK" : "FAILED"));
        EXPECT_EQ(lines_[5], c.lastOutcome);
        EXPECT_EQ(summary_.found, 3);
        EXPECT_EQ(summary_.removed + summary_.failed + summary_.restart, 3);
    }
    EXPECT_EQ(engine_.cleans.back(), (std::vector<int32_t>{10, 11, 12}));

    // Nothing found: no clean at all, as with the page's automatic cleaning.
    engine_.threats = 0;
    engine_.cleans.clear();
    EXPECT_EQ(RunOnce(UnattendedRun::Work::Clean), 0);
    EXPECT_TRUE(engine_.cleans.empty());
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
