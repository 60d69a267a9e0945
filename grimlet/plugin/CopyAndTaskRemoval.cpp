#include "grimlet/plugin/CopyAndTaskRemoval.h"

#include <windows.h>

#include <cwchar>

#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/plugin/WormTaskStep.h"
#include "grimlet/tasks/RegisteredTasks.h"
#include "grimlet/tasks/TaskFolder.h"
#include "grimlet/services/MendrelLauncher.h"
#include "platform/log/Logger.h"
#include "platform/system/DeviceProfile.h"
#include "plugin_host/PluginInterface.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

constexpr std::size_t kCommandLineChars = 2048;

std::wstring Fitted(int written, const wchar_t* line) {
    if (written < 0 || static_cast<std::size_t>(written) >= kCommandLineChars) return std::wstring();
    return std::wstring(line, static_cast<std::size_t>(written));
}

// Only a name the system says is not there counts as gone: a file that cannot be looked at may still be.
bool IsGone(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

int RunRemoval(const std::wstring& engineFolder, const std::wstring& commandLine, bool (*gone)(const ScanRecord&),
               const ScanRecord& record) {
    DWORD engineCode = 0;
    const bool ended = !commandLine.empty() && RunEngineHidden(engineFolder, commandLine, engineCode);
    const int outcome = EngineRemovalOutcome(ended, static_cast<int>(engineCode), gone(record));
    TW_LOG(outcome == kPluginCleanDone ? LogLevel::Info : LogLevel::Error, "%S: engine ended %s %d; outcome %d",
           record.objectPath.c_str(), ended ? "with code" : "without a code", static_cast<int>(engineCode), outcome);
    return outcome;
}

bool CopyGone(const ScanRecord& record) { return IsGone(record.objectPath) && IsGone(record.relatedPath); }

bool TaskGone(const ScanRecord& record) {
    if (record.objectPath.empty()) return false;
    if (record.objectPath[0] == L'\\') {
        // A Task Scheduler 2.0 task: only the scheduler's own "no such task" counts.
        TaskService service;
        std::string problem;
        RegisteredTask task;
        std::wstring xml;
        return service.Connect(problem) && service.Open(record.objectPath, task, xml, problem) == TaskService::Found::Absent;
    }
    const std::wstring folder = SystemTasksFolder();
    return !folder.empty() && IsGone(folder + L"\\" + record.objectPath);
}

}  // namespace

std::wstring BuildDriveCopyCommandLine(const std::wstring& engineFolder, const std::wstring& copyPath,
                                       const std::wstring& infPath, const std::string& sha1) {
    wchar_t line[kCommandLineChars];
    const std::wstring hash(sha1.begin(), sha1.end());
    const int written = _snwprintf(line, kCommandLineChars,
                                   L"\"%s\\RunMendrel\" -assign=WORM_GRIMLET. -COPY=\"%s\" -AUTORUN=\"%s\" -SHA1=%s",
                                   engineFolder.c_str(), copyPath.c_str(), infPath.c_str(), hash.c_str());
    return Fitted(written, line);
}

std::wstring BuildTaskCommandLine(const std::wstring& engineFolder, const std::wstring& taskName,
                                  const std::string& sha1) {
    wchar_t line[kCommandLineChars];
    const std::wstring hash(sha1.begin(), sha1.end());
    const int written = _snwprintf(line, kCommandLineChars, L"\"%s\\RunMendrel\" -assign=WORM_GRIMLET. -TASK=\"%s\" -SHA1=%s",
                                   engineFolder.c_str(), taskName.c_str(), hash.c_str());
    return Fitted(written, line);
}

int EngineRemovalOutcome(bool engineEnded, int engineCode, bool goneNow) {
    if (!engineEnded) return kPluginCleanFailed;
    if (engineCode == MendrelExitCode::Removed) return goneNow ? kPluginCleanDone : kPluginCleanFailed;
    const int outcome = static_cast<int>(static_cast<unsigned>(engineCode) + kCleanOutcomeEngineBase);
    return outcome == kPluginCleanDone || outcome == kPluginCleanNeedsRestart ? kPluginCleanFailed : outcome;
}

bool DriveTakesChangesNow(const std::wstring& root) { return SKDeviceProfile(root).Writable(); }

int CleanDriveCopyRecord(const ScanRecord& record) {
    return CleanDriveCopyRecordWith(record, EngineFolder(), &DriveTakesChangesNow);
}

int CleanDriveCopyRecordWith(const ScanRecord& record, const std::wstring& engineFolder, DriveWriteCheck writable) {
    const std::wstring root = record.objectPath.substr(0, 2);
    if (!writable(root)) {
        TW_LOG(LogLevel::Error, "%S: drive %S is write-protected; nothing changed", record.objectPath.c_str(),
               root.c_str());
        return static_cast<int>(kCleanOutcomeEngineBase + MendrelExitCode::ReadOnlyMedium);
    }
    const std::wstring commandLine =
        engineFolder.empty() ? std::wstring()
                             : BuildDriveCopyCommandLine(engineFolder, record.objectPath, record.relatedPath, record.sha1);
    return RunRemoval(engineFolder, commandLine, &CopyGone, record);
}

int CleanWormTaskRecord(const ScanRecord& record) { return CleanWormTaskRecordWith(record, EngineFolder()); }

int CleanWormTaskRecordWith(const ScanRecord& record, const std::wstring& engineFolder) {
    const std::wstring commandLine =
        engineFolder.empty() ? std::wstring() : BuildTaskCommandLine(engineFolder, record.objectPath, record.sha1);
    return RunRemoval(engineFolder, commandLine, &TaskGone, record);
}
