#pragma once
#include <string>
#include <vector>

// What the command line asks for. Without arguments the program is the dialog; with them it runs
// unattended (scan or clean, then a report) or, for anything it does not understand, only explains
// its usage. Pure: tested without Windows.
struct CommandLineOptions {
    enum class Mode { Dialog, Scan, Clean, Usage };

    Mode mode = Mode::Dialog;
    // Where the report goes; empty: the per-machine reports folder.
    std::wstring reportPath;
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
