// RunMendrel.exe: the cleanup engine grimlet.dll starts once per worm service. No window; the outcome is the exit code
// (MendrelExitCode.h) and, when "DebugLevel" turns it on, RunMendrel.log beside it, which each run
// adds to.
#include <windows.h>

#include <string>

#include "grimlet/TrustedSigner.h"
#include "grimlet/mendrel/MendrelCommandLine.h"
#include "grimlet/mendrel/MendrelEngine.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "platform/Logger.h"
#include "platform/QuarantineLocation.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

bool IsTrusted(const std::wstring& path) { return IsSignedByTrustedSigner(path); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    Logger logger("RunMendrel.log", LogFileStart::Append);
    MendrelCommandLine request;
    std::wstring problem;
    if (!request.Parse(GetCommandLineW(), problem)) {
        TW_LOG(LogLevel::Error, "Refused: %S", problem.c_str());
        return MendrelExitCode::BadCommandLine;
    }
    std::wstring folder = MachineQuarantineFolder();
    if (folder.empty()) {
        TW_LOG(LogLevel::Error, "SHGetFolderPathW(CSIDL_COMMON_APPDATA) names no usable folder");
        return MendrelExitCode::QuarantineFailed;
    }
    return MendrelEngine(folder, &IsTrusted).Run(request.dllPath);
}
