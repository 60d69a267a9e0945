#pragma once
#include <string>
#include <vector>

// The command lines the engine accepts (switch names without regard to case, values exactly):
//   "<folder>\RunMendrel" -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH="<absolute DLL path>"
//   RunMendrel -list
//   RunMendrel -restore=<SHA-1 of a quarantined file, 40 hexadecimal digits>
//   "<folder>\RunMendrel" -autorun=off
//   "<folder>\RunMendrel" -assign=WORM_GRIMLET. -COPY="<X:\...\file>" -AUTORUN="<X:\autorun.inf>" -SHA1=<40 hex>
//   "<folder>\RunMendrel" -assign=WORM_GRIMLET. -TASK="<At1.job or \Task\Path>" -SHA1=<worm DLL's SHA-1>
struct MendrelCommandLine {
    enum class Command { Remove, List, Restore, AutoRunOff, DriveCopy, Task };
    Command command = Command::Remove;
    std::wstring dllPath;   // Remove
    std::string sha1;       // Restore, DriveCopy, Task (the worm DLL's): in upper case
    std::wstring copyPath;     // DriveCopy: the worm's copy, "X:\..." on the drive of
    std::wstring autorunPath;  // its "X:\autorun.inf"
    std::wstring taskName;  // Task: a bare ".job" file name or a Task Scheduler 2.0 path

    // False, with the reason in `problem`, for anything else.
    bool Parse(const wchar_t* commandLine, std::wstring& problem);
    static bool IsAbsoluteFilePath(const std::wstring& path);
    // "X:\name\...": a drive letter, then plain names only (no ".", "..", stream or wildcard).
    static bool IsPlainDrivePath(const std::wstring& path);

private:
    bool ParseDriveCopy(const std::vector<std::wstring>& arguments, std::wstring& problem);
};
