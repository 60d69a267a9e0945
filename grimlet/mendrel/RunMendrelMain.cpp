// RunMendrel.exe: the cleanup engine grimlet.dll starts once per worm service. No window; the outcome
// is the exit code (MendrelExitCode.h) and, when "DebugLevel" turns it on, RunMendrel.log beside it.
#include <windows.h>

#include "grimlet/TrustedSigner.h"
#include "grimlet/mendrel/MendrelCommandLine.h"
#include "grimlet/mendrel/MendrelEngine.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "platform/Logger.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

bool IsTrusted(const std::wstring& path) { return IsSignedByTrustedSigner(path); }

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    std::wstring folder(path, length);
    std::size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    Logger logger("RunMendrel.log");
    const wchar_t* commandLine = GetCommandLineW();
    TW_LOG(LogLevel::Info, "Command line: %S", commandLine);
    MendrelCommandLine request;
    std::wstring problem;
    if (!request.Parse(commandLine, problem)) {
        TW_LOG(LogLevel::Error, "Refused: %S", problem.c_str());
        return MendrelExitCode::BadCommandLine;
    }
    std::wstring folder = OwnFolder();
    if (folder.empty()) {
        TW_LOG(LogLevel::Error, "GetModuleFileNameW Error=%d", (int)GetLastError());
        return MendrelExitCode::QuarantineFailed;
    }
    return MendrelEngine(folder, &IsTrusted).Run(request.dllPath);
}
