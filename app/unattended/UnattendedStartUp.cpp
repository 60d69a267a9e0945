#include "app/unattended/UnattendedStartUp.h"

#include <windows.h>
#include <objbase.h>

#include <cstdlib>

#include "app/PreparedWorkFolder.h"
#include "app/ScanControllerEngine.h"
#include "app/SingleRunGuard.h"
#include "app/unattended/QuarantineRun.h"
#include "app/unattended/RunEvent.h"
#include "app/unattended/ScanReport.h"
#include "app/unattended/UnattendedRun.h"
#include "platform/system/AutoRunSetting.h"
#include "platform/system/DataFolder.h"
#include "platform/system/OsVersion.h"
#include "platform/system/PatchStatus.h"
#include "platform/system/UtcTime.h"

namespace unattended {

namespace {

const wchar_t kVersion[] = L"1.60.0.1000";  // the version the dialog's footer and the log banner show
const wchar_t kPrepareFailed[] = L"初始化组件失败";

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return L"UNKNOWN";
    return std::wstring(name, size);
}

// "WS042-20240501T123456Z.txt": the machine and the run's start in UTC.
std::wstring ReportFileName(const std::wstring& computer, const SYSTEMTIME& start) {
    wchar_t stamp[32];
    _snwprintf(stamp, 32, L"-%04u%02u%02uT%02u%02u%02uZ.txt", start.wYear, start.wMonth, start.wDay, start.wHour,
               start.wMinute, start.wSecond);
    stamp[31] = L'\0';
    std::wstring name = computer;
    for (wchar_t& c : name)
        if (c < 0x20 || wcschr(L"\\/:*?\"<>|", c)) c = L'_';
    return name + stamp;
}

void WriteUsage(const CommandLineOptions& options) {
    // Only where asked: a command line that was not understood leaves nothing on the machine.
    if (options.reportPath.empty()) return;
    ScanReport usage(options.reportPath, nullptr, std::wstring());
    usage.Record(L"TIDEWASH", {kVersion});
    usage.Record(L"ERROR", {options.problem});
    for (const std::wstring& line : UsageLines()) usage.Record(L"USAGE", {line});
}

// Whether the hole the worm came through is still open; read only, and never counted as a threat.
void RecordPatchStatus(ScanReport& report, const PatchVerdict& patch) {
    report.Record(L"PATCH", {L"KB958644", PatchStateWord(patch.state), patch.fileRead ? patch.fileVersion.Text() : L"-",
                             DescribeRunningSystem(), patch.reason});
}

// Whether an autorun.inf on a stick still runs: read after the run, so that a clean's change shows.
// A setting, never a threat: it changes no count and no exit code.
void RecordAutoRun(ScanReport& report, const UnattendedRun::Summary& summary) {
    const AutoRunFacts facts = AutoRun::ReadFacts();
    const bool off = facts.readable && AutoRun::IsOff(facts);
    const bool changed = summary.settingsChanged + summary.settingsFailed > 0;
    std::vector<std::wstring> fields = {changed ? (off && summary.settingsFailed == 0 ? L"turned off" : L"failed")
                                                : (off ? L"off" : L"on")};
    for (const std::wstring& value : AutoRun::Describe(facts)) fields.push_back(value);
    if (!facts.readable) fields.push_back(L"not every value could be read");
    report.Record(L"AUTORUN", fields);
}

int ScanOrClean(UnattendedRun::Work work, ScanReport& report, UnattendedRun::Summary& counted, bool& hasSummary) {
    PreparedWorkFolder workFolder;
    if (!Prepared(workFolder, report)) return UnattendedRun::kNotPrepared;
    // The apartment the dialog's threads run in, so that the engine and the plug-ins find the same.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int exitCode;
    {
        ScanControllerEngine engine;
        UnattendedRun run(engine, report);
        exitCode = run.Run(work);
        // A run that stopped has its ERROR record and no summary: "found=0" would read as a clean bill.
        if (exitCode != UnattendedRun::kNotPrepared) {
            const UnattendedRun::Summary& summary = run.GetSummary();
            counted = summary;
            hasSummary = true;
            RecordPatchStatus(report, ReadKb958644Status());
            RecordAutoRun(report, summary);
            if (work == UnattendedRun::Work::Clean)
                report.Record(L"QUARANTINE", {TidewashDataFolder(kQuarantineLeaf)});
            report.RecordText(L"SUMMARY", L"found=" + std::to_wstring(summary.found) +
                                              L" removed=" + std::to_wstring(summary.removed) +
                                              L" failed=" + std::to_wstring(summary.failed) +
                                              L" restart=" + std::to_wstring(summary.restart) +
                                              L" unchecked=" + std::to_wstring(summary.unchecked));
        }
    }
    CoUninitialize();
    return exitCode;
}

const wchar_t* ModeWord(CommandLineOptions::Mode mode) {
    switch (mode) {
        case CommandLineOptions::Mode::Clean: return L"clean";
        case CommandLineOptions::Mode::Quarantine: return L"quarantine";
        case CommandLineOptions::Mode::Restore: return L"restore";
        default: return L"scan";
    }
}

}  // namespace

bool Prepared(const PreparedWorkFolder& workFolder, ScanReport& report) {
    for (const std::wstring& note : workFolder.TakenOver()) report.Record(L"NOTE", {note});
    if (workFolder.Prepared()) return true;
    report.Record(L"ERROR", {std::wstring(kPrepareFailed) + L" (" + workFolder.Failure() + L")"});
    return false;
}

int WithReportOutcome(int outcome, bool reportElsewhere, bool reportLost) {
    if (outcome == UnattendedRun::kNotPrepared || outcome == kUsage || outcome == kAlreadyRunning) return outcome;
    if (reportLost) return outcome + kReportLost;
    if (reportElsewhere) return outcome + kReportElsewhere;
    return outcome;
}

int Run(const CommandLineOptions& options) { return RunOrRefuse(options, nullptr); }

int RunThatCouldNotStart(const CommandLineOptions& options, const std::wstring& why) {
    return RunOrRefuse(options, &why);
}

int RunOrRefuse(const CommandLineOptions& options, const std::wstring* refused) {
    // No system error box either: no "insert a disk" prompt, no crash dialog. Child processes (the
    // cleanup engine) inherit the mode. The C run-time's own "abnormal termination" box of a GUI
    // program goes to the standard error stream instead.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    _set_error_mode(_OUT_TO_STDERR);
    if (options.mode == CommandLineOptions::Mode::Usage || options.mode == CommandLineOptions::Mode::Dialog) {
        WriteUsage(options);
        WriteRunEvent(MakeRunEvent(L"usage", kUsage, nullptr, options.reportPath));
        return kUsage;
    }

    SYSTEMTIME start;
    GetSystemTime(&start);
    const std::wstring computer = ComputerName();
    ScanReport report(options.reportPath,
                      [] { return std::unique_ptr<ProtectedDataFolder>(new ProtectedDataFolder(kReportsLeaf)); },
                      ReportFileName(computer, start));
    report.Record(L"TIDEWASH", {kVersion, ModeWord(options.mode)});
    report.Record(L"COMPUTER", {computer});
    report.Record(L"OS", {DescribeRunningSystem()});
    report.Record(L"START", {IsoUtcText(start)});

    int exitCode;
    UnattendedRun::Summary summary;
    bool hasSummary = false;
    SingleRunGuard onlyRun;
    if (refused) {
        report.Record(L"ERROR", {std::wstring(kPrepareFailed) + L" (" + *refused + L")"});
        exitCode = UnattendedRun::kNotPrepared;
    } else if (!onlyRun.IsOnlyRun()) {
        report.Record(L"ERROR", {L"another Tidewash run is in progress on this machine; nothing was done"});
        exitCode = kAlreadyRunning;
    } else if (options.mode == CommandLineOptions::Mode::Quarantine) {
        exitCode = ListQuarantine(report);
    } else if (options.mode == CommandLineOptions::Mode::Restore) {
        exitCode = RestoreItem(options.sha1, report);
    } else {
        exitCode = ScanOrClean(options.mode == CommandLineOptions::Mode::Clean ? UnattendedRun::Work::Clean
                                                                              : UnattendedRun::Work::Scan,
                               report, summary, hasSummary);
    }
    report.Record(L"END", {IsoUtcNow()});
    const int finalCode = WithReportOutcome(exitCode, report.WentElsewhere(), report.Lost());
    // One event per run, whatever its outcome, for the administrator who reads the machine's log.
    WriteRunEvent(MakeRunEvent(ModeWord(options.mode), finalCode, hasSummary ? &summary : nullptr,
                               report.Lost() ? std::wstring() : report.Path()));
    return finalCode;
}

}  // namespace unattended
