#include "grimlet/services/MendrelLauncher.h"

#include <cwchar>
#include <vector>

#include "grimlet/common/RegistryLink.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "plugin_host/PluginInterface.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

constexpr std::size_t kCommandLineChars = 2048;

}  // namespace

std::wstring EngineFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&EngineFolder), &self))
        return std::wstring();
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    std::wstring folder(path, length);
    std::size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    folder.resize(slash);
    return folder;
}

std::wstring BuildMendrelCommandLine(const std::wstring& engineFolder, const std::wstring& dllPath) {
    wchar_t line[kCommandLineChars];
    int written = _snwprintf(line, kCommandLineChars,
                             L"\"%s\\RunMendrel\" -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"%s\"",
                             engineFolder.c_str(), dllPath.c_str());
    if (written < 0 || static_cast<std::size_t>(written) >= kCommandLineChars) return std::wstring();
    return std::wstring(line, static_cast<std::size_t>(written));
}

int CleanOutcomeOfEngine(bool engineEnded, int engineCode, bool keyGone) {
    if (!engineEnded) return kPluginCleanFailed;
    if (keyGone) {
        // 3: a service sharing the DLL took it with it earlier in this clean.
        if (engineCode == MendrelExitCode::Removed || engineCode == MendrelExitCode::NoMatchingService)
            return kPluginCleanDone;
        if (engineCode == MendrelExitCode::RemovedAfterRestart) return kPluginCleanNeedsRestart;
    }
    // The engine's own reason, kept for the host; never one of the two success codes.
    const int outcome = static_cast<int>(static_cast<unsigned>(engineCode) + kCleanOutcomeEngineBase);
    return outcome == kPluginCleanDone || outcome == kPluginCleanNeedsRestart ? kPluginCleanFailed : outcome;
}

bool RunEngineHidden(const std::wstring& folder, const std::wstring& commandLine, DWORD& exitCode) {
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION engine = {};
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                        folder.c_str(), &startup, &engine)) {
        TW_LOG(LogLevel::Error, "CreateProcessW(%S) Error=%d", commandLine.c_str(), (int)GetLastError());
        return false;
    }
    KernelHandle process(engine.hProcess);
    KernelHandle thread(engine.hThread);
    if (WaitForSingleObject(process.Get(), INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process.Get(), &exitCode))
        return true;
    TW_LOG(LogLevel::Error, "The engine's exit code cannot be read (%d)", (int)GetLastError());
    return false;
}

int RunMendrelForService(const ServiceEntry& entry) { return RunMendrelForService(entry, EngineFolder()); }

int RunMendrelForService(const ServiceEntry& entry, const std::wstring& engineFolder) {
    std::wstring commandLine = engineFolder.empty() ? std::wstring() : BuildMendrelCommandLine(engineFolder, entry.dllPath);
    DWORD engineCode = 0;
    const bool ended = !commandLine.empty() && RunEngineHidden(engineFolder, commandLine, engineCode);

    // The key itself, not what it may link to: a link left in its place is a key still there.
    RegistryKey key;
    LONG result = RegistryLink::OpenMachineKey(entry.keyPath, KEY_QUERY_VALUE, key);
    const bool keyGone = result == ERROR_FILE_NOT_FOUND;
    if (!keyGone)
        TW_LOG(LogLevel::Detail, "Service key %S still there after the engine (%d)", entry.keyPath.c_str(), (int)result);
    const int outcome = CleanOutcomeOfEngine(ended, static_cast<int>(engineCode), keyGone);
    if (ended && engineCode == MendrelExitCode::SignatureUnchecked)
        TW_LOG(LogLevel::Warning, "The signer of %S is unknown: the engine could not read it; nothing removed",
               entry.dllPath.c_str());
    if (ended)
        TW_LOG(outcome == kPluginCleanDone || outcome == kPluginCleanNeedsRestart ? LogLevel::Info : LogLevel::Error,
               "RunMendrel for %S ended with code %d; outcome %d", entry.keyPath.c_str(), (int)engineCode, outcome);
    return outcome;
}
