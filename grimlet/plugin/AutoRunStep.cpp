#include "grimlet/plugin/AutoRunStep.h"

#include <windows.h>

#include <cwchar>

#include "grimlet/plugin/CopyAndTaskRemoval.h"
#include "grimlet/services/MendrelLauncher.h"
#include "platform/log/Logger.h"
#include "platform/system/AutoRunSetting.h"
#include "plugin_host/PluginInterface.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

constexpr std::size_t kCommandLineChars = 2048;
const wchar_t kTitle[] = L"自动播放";
const wchar_t kDetail[] = L"U盘和网络驱动器上的autorun.inf仍会被执行";

void LogFacts(const char* when, const AutoRunFacts& facts) {
    const std::vector<std::wstring> values = AutoRun::Describe(facts);
    TW_LOG(LogLevel::Info, "AutoRun %s: %s; %S; %S", when, AutoRun::IsOff(facts) ? "off" : "on", values[0].c_str(),
           values[1].c_str());
}

}  // namespace

void ScanAutoRun(std::vector<ScanRecord>& results) {
    const AutoRunFacts facts = AutoRun::ReadFacts();
    LogFacts("found", facts);
    // What cannot be read is not proven off: the row stays, and the engine says what it can do.
    if (facts.readable && AutoRun::IsOff(facts)) return;
    ScanRecord record;
    record.kind = kScanRecordAutoRun;
    record.title = kTitle;
    record.detail = kDetail;
    results.push_back(record);
}

std::wstring BuildAutoRunCommandLine(const std::wstring& engineFolder) {
    wchar_t line[kCommandLineChars];
    int written = _snwprintf(line, kCommandLineChars, L"\"%s\\RunMendrel\" -autorun=off", engineFolder.c_str());
    if (written < 0 || static_cast<std::size_t>(written) >= kCommandLineChars) return std::wstring();
    return std::wstring(line, static_cast<std::size_t>(written));
}

int AutoRunOutcome(bool engineEnded, int engineCode, bool offNow) {
    return EngineRemovalOutcome(engineEnded, engineCode, offNow);
}

int TurnAutoRunOff() { return TurnAutoRunOff(EngineFolder()); }

int TurnAutoRunOff(const std::wstring& engineFolder) {
    const std::wstring commandLine = engineFolder.empty() ? std::wstring() : BuildAutoRunCommandLine(engineFolder);
    DWORD engineCode = 0;
    const bool ended = !commandLine.empty() && RunEngineHidden(engineFolder, commandLine, engineCode);
    // The engine's word alone is not enough: what the shell will read is read again.
    const AutoRunFacts after = AutoRun::ReadFacts();
    LogFacts("after the engine", after);
    const int outcome = AutoRunOutcome(ended, static_cast<int>(engineCode), after.readable && AutoRun::IsOff(after));
    TW_LOG(outcome == kPluginCleanDone ? LogLevel::Info : LogLevel::Error,
           "RunMendrel -autorun=off ended %s %d; outcome %d", ended ? "with code" : "without a code", (int)engineCode,
           outcome);
    return outcome;
}
