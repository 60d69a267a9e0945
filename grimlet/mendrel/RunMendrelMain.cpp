// RunMendrel.exe: the cleanup engine grimlet.dll starts once per worm service, once per worm copy on a
// removable or network drive (-COPY=), to remove a scheduled task of the worm (-TASK=) and to turn
// AutoRun off (-autorun=off), and the way back out of its quarantine (-list, -restore=<id>). No
// window; the outcome is the exit code (MendrelExitCode.h) and, when "DebugLevel" turns it on,
// RunMendrel.log beside it, which each run adds to.
#include <windows.h>

#include <string>
#include <vector>

#include "grimlet/common/EnablePrivilege.h"
#include "grimlet/common/TrustedSigner.h"
#include "grimlet/mendrel/AutoRunChange.h"
#include "grimlet/mendrel/DriveCopyRemoval.h"
#include "grimlet/mendrel/MendrelCommandLine.h"
#include "grimlet/mendrel/MendrelEngine.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/mendrel/QuarantineCommands.h"
#include "grimlet/mendrel/QuarantineStore.h"
#include "grimlet/mendrel/TaskRemoval.h"
#include "platform/log/Logger.h"
#include "platform/system/Utf8.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

bool IsTrusted(const std::wstring& path) { return IsSignedByTrustedSigner(path); }

// Standard output of a program without a console of its own: a redirected file or pipe gets UTF-8; a
// program started from a console window writes into that console.
class OutputLines {
public:
    OutputLines() {
        handle_ = GetStdHandle(STD_OUTPUT_HANDLE);
        if ((handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
            owned_.Attach(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
            handle_ = owned_.IsValid() ? owned_.Get() : INVALID_HANDLE_VALUE;
        }
        DWORD mode = 0;
        console_ = handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr && GetConsoleMode(handle_, &mode);
    }
    OutputLines(const OutputLines&) = delete;
    OutputLines& operator=(const OutputLines&) = delete;

    void Write(const std::wstring& line) {
        if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return;
        std::wstring text = line + L"\r\n";
        DWORD written = 0;
        if (console_) {
            WriteConsoleW(handle_, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
            return;
        }
        const std::string bytes = Utf8FromWide(text);
        WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    KernelHandle owned_;  // the parent's console, when this program opened it
    bool console_ = false;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    Logger logger("RunMendrel.log", LogFileStart::Append);
    // Started by grimlet.dll, the engine inherits a token with these already on; started by hand for
    // -list or -restore, nobody has turned them on. Taking over a worm's key and giving the quarantine
    // folder and restored keys their owner need them.
    EnablePrivilege(L"SeTakeOwnershipPrivilege");
    EnablePrivilege(L"SeRestorePrivilege");
    MendrelCommandLine request;
    std::wstring problem;
    if (!request.Parse(GetCommandLineW(), problem)) {
        TW_LOG(LogLevel::Error, "Refused: %S", problem.c_str());
        return MendrelExitCode::BadCommandLine;
    }
    std::wstring folder = MachineQuarantineFolder();
    if (folder.empty()) {
        TW_LOG(LogLevel::Error, "SHGetFolderPathW(CSIDL_COMMON_APPDATA) names no usable folder");
        const bool changes = request.command == MendrelCommandLine::Command::Remove ||
                             request.command == MendrelCommandLine::Command::AutoRunOff ||
                             request.command == MendrelCommandLine::Command::DriveCopy ||
                             request.command == MendrelCommandLine::Command::Task;
        return changes ? MendrelExitCode::QuarantineFailed : MendrelExitCode::QuarantineUnreadable;
    }
    QuarantineStore store(folder);
    switch (request.command) {
    case MendrelCommandLine::Command::List: {
        std::vector<std::wstring> lines;
        int code = QuarantineCommands::List(store, lines);
        OutputLines output;
        for (const std::wstring& line : lines) output.Write(line);
        return code;
    }
    case MendrelCommandLine::Command::Restore:
        return QuarantineCommands::Restore(store, request.sha1);
    case MendrelCommandLine::Command::AutoRunOff:
        return AutoRunChange::TurnOff(store);
    case MendrelCommandLine::Command::DriveCopy:
        return DriveCopyRemoval(store, DriveChecks::System()).Remove(request.copyPath, request.autorunPath, request.sha1);
    case MendrelCommandLine::Command::Task: {
        SystemTaskPlace place;
        return TaskRemoval::Remove(store, request.taskName, request.sha1, place.Place());
    }
    case MendrelCommandLine::Command::Remove:
        break;
    }
    return MendrelEngine(folder, &IsTrusted).Run(request.dllPath);
}
