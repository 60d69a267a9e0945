#pragma once
#include <string>
#include <vector>

// What the command line asks for. Without switches the program is the dialog (also with a plain
// argument, such as a file dropped on the program). Switches alone select an unattended run: a scan,
// a clean, the listing of the quarantine or the restore of one item, each with a report; anything not
// understood only explains the usage. Pure: tested without Windows.
struct CommandLineOptions {
    enum class Mode { Dialog, Scan, Clean, Quarantine, Restore, Usage };

    Mode mode = Mode::Dialog;
    // Where the report goes; empty: the per-machine reports folder.
    std::wstring reportPath;
    // Restore only: the item's SHA-1, 40 hexadecimal digits in upper case.
    std::wstring sha1;
    // Why the command line was refused (Usage only), for the report.
    std::wstring problem;

    // `commandLine` is the text after the program's name, as wWinMain receives it.
    static CommandLineOptions Parse(const std::wstring& commandLine);
};

// Splits a command line into arguments as the C runtime does: blanks separate, double quotes group,
// 2n backslashes before a quote give n backslashes and a grouping quote, 2n+1 give n and a literal
// quote; other backslashes stay as they are (so "\\server\share" survives unquoted).
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// The usage lines written to a report when the command line is refused.
std::vector<std::wstring> UsageLines();
