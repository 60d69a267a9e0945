#include "app/UnattendedStartUp.h"

#include <windows.h>
#include <objbase.h>

#include <cstdlib>

#include "app/PreparedWorkFolder.h"
#include "app/ScanControllerEngine.h"
#include "app/ScanReport.h"
#include "app/UnattendedRun.h"
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
    ScanReport usage(options.reportPath, std::wstring(), std::wstring());
    usage.Record(L"TIDEWASH", {kVersion});
    usage.Record(L"ERROR", {options.problem});
    for (const std::wstring& line : UsageLines()) usage.Record(L"USAGE", {line});
}

// The dialog's start-up without the dialog: the same work folder, log and components.
int ScanOrClean(UnattendedRun::Work work, ScanReport& report) {
    PreparedWorkFolder workFolder;
    if (!workFolder.Prepared()) {
        const std::wstring where = workFolder.Path().empty() ? L"(the work folder cannot be named)"
                                                             : L"(the components could not be prepared in " +
                                                                   workFolder.Path() + L")";
        report.Record(L"ERROR", {std::wstring(kPrepareFailed) + L" " + where});
        return UnattendedRun::kNotPrepared;
    }
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

}  // namespace

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

    const UnattendedRun::Work work =
        options.mode == CommandLineOptions::Mode::Clean ? UnattendedRun::Work::Clean : UnattendedRun::Work::Scan;
    SYSTEMTIME start;
    GetSystemTime(&start);
    const std::wstring computer = ComputerName();
    ScanReport report(options.reportPath, TidewashDataFolder(kReportsLeaf), ReportFileName(computer, start));
    report.Record(L"TIDEWASH", {kVersion, work == UnattendedRun::Work::Clean ? L"clean" : L"scan"});
    report.Record(L"COMPUTER", {computer});
    report.Record(L"OS", {DescribeRunningSystem()});
    report.Record(L"START", {IsoUtcText(start)});

    const int exitCode = ScanOrClean(work, report);
    report.Record(L"END", {IsoUtcNow()});
    if (exitCode != UnattendedRun::kNotPrepared && report.WentElsewhere()) return kReportElsewhere;
    return exitCode;
}

}  // namespace unattended
