#include "app/unattended/QuarantineRun.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/PreparedWorkFolder.h"
#include "app/unattended/EngineCommand.h"
#include "app/unattended/ScanReport.h"
#include "app/unattended/UnattendedRun.h"
#include "app/unattended/UnattendedStartUp.h"
#include "platform/system/DataFolder.h"

namespace unattended {

namespace {

// Standard output, when it is a file or a pipe (a script's redirection); a program without a console has
// none otherwise. Through the C run-time's stream, which the unpacking writes its progress line to as
// well, so that the lines keep their order.
void WriteToStandardOutput(const std::string& line) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    const DWORD type = GetFileType(output);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return;
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::vector<std::wstring> TabSeparated(const std::wstring& line) {
    std::vector<std::wstring> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find(L'\t', start);
        fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos) return fields;
        start = tab + 1;
    }
}

// Prepares the components as a scan does and runs the engine this run unpacked. False, with the ERROR
// record, when either fails; the work folder is gone again when this returns.
bool RunPreparedEngine(const std::wstring& arguments, ScanReport& report, int& exitCode,
                       std::vector<std::wstring>& output) {
    PreparedWorkFolder workFolder;
    if (!Prepared(workFolder, report)) return false;
    EngineCommand engine(workFolder.Path());
    if (!engine.Run(arguments, exitCode)) {
        report.Record(L"ERROR", {engine.Failure()});
        return false;
    }
    output = engine.OutputLines();
    return true;
}

}  // namespace

int ListQuarantine(ScanReport& report) {
    int exitCode = 0;
    std::vector<std::wstring> output;
    if (!RunPreparedEngine(L"-list", report, exitCode, output)) return UnattendedRun::kNotPrepared;
    report.Record(L"QUARANTINE", {TidewashDataFolder(kQuarantineLeaf)});
    int items = 0;
    for (const std::wstring& line : output) {
        if (line.empty()) continue;
        const std::vector<std::wstring> fields = TabSeparated(line);
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

int RestoreItem(const std::wstring& sha1, ScanReport& report) {
    int exitCode = 0;
    std::vector<std::wstring> output;
    if (!RunPreparedEngine(L"-restore=" + sha1, report, exitCode, output)) return UnattendedRun::kNotPrepared;
    if (exitCode == 0)
        report.Record(L"RESTORED", {sha1});
    else
        report.Record(L"ERROR", {L"not restored: " + sha1 + L": " + EngineOutcomeText(exitCode)});
    return exitCode;
}

std::wstring EngineOutcomeText(int exitCode) {
    switch (exitCode) {
        case 7: return L"the manifest, the stored copy or the saved keys are missing, damaged, malformed or do not "
                       L"match the entry";
        case 8: return L"no item with that SHA-1 is in quarantine (none, or restored already)";
        case 9: return L"refused: the original path is taken, a service key exists, or the AutoRun values are no "
                       L"longer the ones written; nothing changed";
        case 10: return L"writing failed; what was written is undone";
        case 12: return L"the quarantine folder, or one above it, is a link, not a folder, or not owned by "
                        L"Administrators or SYSTEM; nothing was read";
        default: return L"the cleanup engine ended with code " + std::to_wstring(exitCode);
    }
}

}  // namespace unattended
