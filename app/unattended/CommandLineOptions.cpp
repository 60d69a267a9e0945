#include "app/unattended/CommandLineOptions.h"

#include <cwchar>
#include <cwctype>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

CommandLineOptions Refuse(const std::wstring& problem, const std::wstring& reportPath) {
    CommandLineOptions options;
    options.mode = CommandLineOptions::Mode::Usage;
    options.problem = problem;
    options.reportPath = reportPath;
    return options;
}

const wchar_t kReportSwitch[] = L"report=";
const wchar_t kRestoreSwitch[] = L"restore=";

bool IsSwitch(const std::wstring& argument) {
    return argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-');
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

bool IsSha1Text(const std::wstring& text) {
    if (text.size() != 40) return false;
    for (wchar_t c : text)
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return false;
    return true;
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> arguments;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size()) break;
        std::wstring argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            if (line[i] == L'\\') {
                std::size_t backslashes = 0;
                while (i < line.size() && line[i] == L'\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < line.size() && line[i] == L'"') {
                    argument.append(backslashes / 2, L'\\');
                    if (backslashes % 2 == 1) {
                        argument += L'"';
                        ++i;
                    }
                } else {
                    argument.append(backslashes, L'\\');
                }
            } else if (line[i] == L'"') {
                // Inside quotes, a doubled quote stands for one literal quote.
                if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                    argument += L'"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument += line[i++];
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

CommandLineOptions CommandLineOptions::Parse(const std::wstring& commandLine) {
    const std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
    CommandLineOptions options;
    bool anySwitch = false;
    for (const std::wstring& argument : arguments) anySwitch = anySwitch || IsSwitch(argument);
    // No switch at all: the dialog, exactly as without a command line (a dropped file is no request).
    if (!anySwitch) return options;

    Mode mode = Mode::Dialog;
    bool reportGiven = false;
    std::wstring reportPath;
    std::wstring sha1;
    std::wstring problem;
    for (const std::wstring& argument : arguments) {
        const bool isSwitch = IsSwitch(argument);
        const std::wstring name = isSwitch ? Lower(argument.substr(1)) : std::wstring();
        Mode asked = Mode::Dialog;
        if (name == L"scan") {
            asked = Mode::Scan;
        } else if (name == L"clean") {
            asked = Mode::Clean;
        } else if (name == L"quarantine") {
            asked = Mode::Quarantine;
        } else if (name.compare(0, wcslen(kRestoreSwitch), kRestoreSwitch) == 0) {
            asked = Mode::Restore;
            sha1 = Upper(argument.substr(1 + wcslen(kRestoreSwitch)));
            if (!IsSha1Text(sha1) && problem.empty()) problem = L"not a SHA-1 of 40 hexadecimal digits: " + argument;
        } else if (name.compare(0, wcslen(kReportSwitch), kReportSwitch) == 0) {
            if (reportGiven) {
                if (problem.empty()) problem = L"the report switch is given more than once";
                continue;
            }
            reportGiven = true;
            // The path keeps its case: only the switch's name is case-insensitive.
            reportPath = argument.substr(1 + wcslen(kReportSwitch));
            if (reportPath.empty() && problem.empty()) problem = L"the report switch names no file: " + argument;
            continue;
        } else {
            if (problem.empty()) problem = (isSwitch ? L"unknown switch: " : L"unexpected argument: ") + argument;
            continue;
        }
        if (mode != Mode::Dialog && mode != asked && problem.empty())
            problem = L"only one of /scan, /clean, /quarantine and /restore= can be given";
        mode = asked;
    }
    if (problem.empty() && mode == Mode::Dialog) problem = L"/report needs /scan, /clean, /quarantine or /restore=";
    if (!problem.empty()) return Refuse(problem, reportPath);
    options.mode = mode;
    options.reportPath = reportPath;
    if (mode == Mode::Restore) options.sha1 = sha1;
    return options;
}

std::vector<std::wstring> UsageLines() {
    return {
        L"Tidewash.exe                 the dialog (also with a file or other plain argument)",
        L"Tidewash.exe /scan [/report=PATH]    scan, remove nothing; exit 0 nothing found, 1 threats found",
        L"Tidewash.exe /clean [/report=PATH]   scan and remove every threat; exit 0 nothing found, 2 all removed,"
        L" 3 a restart finishes the removal, 4 not all removed",
        L"Tidewash.exe /quarantine [/report=PATH]   list the quarantine as ITEM records; exit 0",
        L"Tidewash.exe /restore=SHA-1 [/report=PATH]   put one quarantined item back; exit 0 restored,"
        L" 7 quarantine damaged, 8 nothing to restore, 9 refused, 10 writing failed",
        L"switches are case-insensitive and may begin with / or -; without /report= the report goes to"
        L" the common application data folder under Quorvel\\Tidewash\\Reports",
        L"16 is added to the code when the report could not be written at PATH (it went to the reports folder),"
        L" 32 when it could not be written at all; -1: the components could not be prepared;"
        L" 87: the command line was not understood; 170: another Tidewash run is in progress",
    };
}
