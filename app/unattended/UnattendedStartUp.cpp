#include "app/unattended/UnattendedStartUp.h"

#include <windows.h>
#include <objbase.h>

#include <cstdlib>

#include "app/PreparedWorkFolder.h"
#include "app/ScanControllerEngine.h"
#include "app/SingleRunGuard.h"
#include "app/unattended/EngineCommand.h"
#include "app/unattended/ScanReport.h"
#include "app/unattended/UnattendedRun.h"
#include "platform/system/DataFolder.h"
#include "platform/system/OsVersion.h"
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

// The dialog's start-up without the dialog: the same log and components, in a work folder of its own
// under the per-machine folder. False, with the ERROR record, when they cannot be prepared.
bool Prepared(const PreparedWorkFolder& workFolder, ScanReport& report) {
    if (workFolder.Prepared()) return true;
    report.Record(L"ERROR", {std::wstring(kPrepareFailed) + L" (" + workFolder.Failure() + L")"});
    return false;
}

int ScanOrClean(UnattendedRun::Work work, ScanReport& report) {
    PreparedWorkFolder workFolder(WorkFolder::Place::MachineFolder);
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
            if (work == UnattendedRun::Work::Clean)
                report.Record(L"QUARANTINE", {TidewashDataFolder(kQuarantineLeaf)});
            report.RecordText(L"SUMMARY", L"found=" + std::to_wstring(summary.found) +
                                              L" removed=" + std::to_wstring(summary.removed) +
                                              L" failed=" + std::to_wstring(summary.failed) +
                                              L" restart=" + std::to_wstring(summary.restart));
        }
    }
    CoUninitialize();
    return exitCode;
}

// Standard output, when it is a file or a pipe (a script's redirection); a program without a console has
// none otherwise.
void WriteToStandardOutput(const std::string& line) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    const DWORD type = GetFileType(output);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return;
    const std::string bytes = line + "\r\n";
    DWORD written = 0;
    WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// One ITEM record per quarantined item, from the engine's own listing: SHA-1, original path, services,
// time and state.
int ListQuarantine(ScanReport& report) {
    PreparedWorkFolder workFolder(WorkFolder::Place::MachineFolder);
    if (!Prepared(workFolder, report)) return UnattendedRun::kNotPrepared;
    EngineCommand engine(workFolder.Path());
    int exitCode = 0;
    if (!engine.Run(L"-list", exitCode)) {
        report.Record(L"ERROR", {engine.Failure()});
        return UnattendedRun::kNotPrepared;
    }
    report.Record(L"QUARANTINE", {TidewashDataFolder(kQuarantineLeaf)});
    int items = 0;
    for (const std::wstring& line : engine.OutputLines()) {
        if (line.empty()) continue;
        std::vector<std::wstring> fields;
        for (std::size_t start = 0;;) {
            const std::size_t tab = line.find(L'\t', start);
            fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
            if (tab == std::wstring::npos) break;
            start = tab + 1;
        }
        report.Record(L"ITEM", fields);
        WriteToStandardOutput(ScanReport::Line(L"ITEM", fields));
        ++items;
    }
    if (exitCode != 0) {
        report.Record(L"ERROR", {EngineOutcomeText(exitCode)});
        return exitCode;
    }
    report.RecordText(L"SUMMARY", L"items=" + std::to_wstring(items));
    return 0;
}

// Puts one item back through the engine; the engine's exit code is the run's.
int RestoreItem(const std::wstring& sha1, ScanReport& report) {
    PreparedWorkFolder workFolder(WorkFolder::Place::MachineFolder);
    if (!Prepared(workFolder, report)) return UnattendedRun::kNotPrepared;
    EngineCommand engine(workFolder.Path());
    int exitCode = 0;
    if (!engine.Run(L"-restore=" + sha1, exitCode)) {
        report.Record(L"ERROR", {engine.Failure()});
        return UnattendedRun::kNotPrepared;
    }
    if (exitCode == 0)
        report.Record(L"RESTORED", {sha1});
    else
        report.Record(L"ERROR", {L"not restored: " + sha1 + L": " + EngineOutcomeText(exitCode)});
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

std::wstring EngineOutcomeText(int exitCode) {
    switch (exitCode) {
        case 7: return L"the manifest, the stored copy or the saved keys are missing, damaged or malformed";
        case 8: return L"no item with that SHA-1 is in quarantine (none, or restored already)";
        case 9: return L"refused: the original path is taken or a service key exists; nothing changed";
        case 10: return L"writing failed; what was written is undone";
        default: return L"the cleanup engine ended with code " + std::to_wstring(exitCode);
    }
}

int WithReportOutcome(int outcome, bool reportElsewhere, bool reportLost) {
    if (outcome == UnattendedRun::kNotPrepared || outcome == kUsage || outcome == kAlreadyRunning) return outcome;
    if (reportLost) return outcome + kReportLost;
    if (reportElsewhere) return outcome + kReportElsewhere;
    return outcome;
}

int Run(const CommandLineOptions& options) {
    // No system error box either: no "insert a disk" prompt, no crash dialog. Child processes (the
    // cleanup engine) inherit the mode. The C run-time's own "abnormal termination" box of a GUI
    // program goes to the standard error stream instead.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    _set_error_mode(_OUT_TO_STDERR);
    if (options.mode == CommandLineOptions::Mode::Usage || options.mode == CommandLineOptions::Mode::Dialog) {
        WriteUsage(options);
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
    SingleRunGuard onlyRun;
    if (!onlyRun.IsOnlyRun()) {
        report.Record(L"ERROR", {L"another Tidewash run is in progress on this machine; nothing was done"});
        exitCode = kAlreadyRunning;
    } else if (options.mode == CommandLineOptions::Mode::Quarantine) {
        exitCode = ListQuarantine(report);
    } else if (options.mode == CommandLineOptions::Mode::Restore) {
        exitCode = RestoreItem(options.sha1, report);
    } else {
        exitCode = ScanOrClean(options.mode == CommandLineOptions::Mode::Clean ? UnattendedRun::Work::Clean
                                                                              : UnattendedRun::Work::Scan,
                               report);
    }
    report.Record(L"END", {IsoUtcNow()});
    return WithReportOutcome(exitCode, report.WentElsewhere(), report.Lost());
}

}  // namespace unattended
