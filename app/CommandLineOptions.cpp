#include "app/CommandLineOptions.h"

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
    if (arguments.empty()) return options;  // the dialog, exactly as without a command line

    Mode mode = Mode::Dialog;
    bool reportGiven = false;
    std::wstring reportPath;
    std::wstring problem;
    for (const std::wstring& argument : arguments) {
        const bool isSwitch = argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-');
        const std::wstring name = isSwitch ? Lower(argument.substr(1)) : std::wstring();
        Mode asked = Mode::Dialog;
        if (name == L"scan") {
            asked = Mode::Scan;
        } else if (name == L"clean") {
            asked = Mode::Clean;
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
            problem = L"/scan and /clean cannot be given together";
        mode = asked;
    }
    if (problem.empty() && mode == Mode::Dialog) problem = L"/report needs /scan or /clean";
    if (!problem.empty()) return Refuse(problem, reportPath);
    options.mode = mode;
    options.reportPath = reportPath;
    return options;
}

std::vector<std::wstring> UsageLines() {
    return {
        L"Tidewash.exe                 the dialog",
        L"Tidewash.exe /scan [/report=PATH]    scan, remove nothing; exit 0 nothing found, 1 threats found",
        L"Tidewash.exe /clean [/report=PATH]   scan and remove every threat; exit 0 nothing found, 2 all removed,"
        L" 3 a restart finishes the removal, 4 not all removed",
        L"switches are case-insensitive and may begin with / or -; without /report= the report goes to"
        L" the common application data folder under Quorvel\\Tidewash\\Reports",
        L"exit 5: the report could not be written at PATH (it went to the reports folder); -1: the components"
        L" could not be prepared; 87: the command line was not understood",
    };
}
