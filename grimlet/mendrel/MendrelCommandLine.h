#pragma once
#include <string>

// The one command line the engine accepts (switch names without regard to case, values exactly):
//   "<folder>\RunMendrel" -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH="<absolute DLL path>"
struct MendrelCommandLine {
    std::wstring dllPath;

    // False, with the reason in `problem`, for anything else.
    bool Parse(const wchar_t* commandLine, std::wstring& problem);
    static bool IsAbsoluteFilePath(const std::wstring& path);
};
