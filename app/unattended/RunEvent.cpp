#include "app/unattended/RunEvent.h"

#include "platform/log/Logger.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"Unattended";

namespace unattended {

namespace {

const wchar_t kSource[] = L"Tidewash";
const wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tidewash";
const wchar_t kMessageFile[] = L"%SystemRoot%\\System32\\EventCreate.exe";

// What the exit code says, without the report's fate (16 and 32 on top).
int Outcome(int exitCode) { return exitCode >= 16 && exitCode < 48 ? exitCode % 16 : exitCode; }

const wchar_t* Meaning(int outcome) {
    switch (outcome) {
        case -1: return L"the components could not be prepared; nothing was done";
        case 0: return L"nothing found";
        case 1: return L"threats found";
        case 2: return L"all threats removed";
        case 3: return L"all removed; a restart finishes the removal";
        case 4: return L"not every threat was removed";
        case 5: return L"not everything could be checked";
        case 87: return L"the command line was not understood; nothing was done";
        case 170: return L"another Tidewash run is in progress; nothing was done";
        default: return L"see the report";
    }
}

WORD TypeOf(int exitCode) {
    const int outcome = Outcome(exitCode);
    if (outcome == -1 || outcome == 87 || outcome == 4) return EVENTLOG_ERROR_TYPE;
    if (outcome == 170 || outcome == 1 || outcome == 3 || outcome == 5 || exitCode >= 16) return EVENTLOG_WARNING_TYPE;
    return EVENTLOG_INFORMATION_TYPE;
}

// As eventcreate does for a source of its own: its message file, all three types. A source that is there
// already (a program's, or an administrator's) is left as it is.
void RegisterSource() {
    RegistryKey existing;
    if (existing.Open(HKEY_LOCAL_MACHINE, kSourceKey, KEY_QUERY_VALUE) == ERROR_SUCCESS) return;
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        GetFileAttributesW((std::wstring(system, length) + L"\\EventCreate.exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
        TW_LOG(LogLevel::Warning, "No EventCreate.exe here: the event source is not registered");
        return;
    }
    RegistryKey source;
    const LONG result = source.Create(HKEY_LOCAL_MACHINE, kSourceKey, KEY_SET_VALUE);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Warning, "RegCreateKeyExW(%S) Error=%d", kSourceKey, (int)result);
        return;
    }
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    const DWORD custom = 1;
    RegSetValueExW(source.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(kMessageFile),
                   sizeof kMessageFile);
    RegSetValueExW(source.Get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
    RegSetValueExW(source.Get(), L"CustomSource", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&custom), sizeof custom);
}

}  // namespace

RunEvent MakeRunEvent(const wchar_t* mode, int exitCode, const UnattendedRun::Summary* summary,
                      const std::wstring& reportPath) {
    RunEvent event;
    event.type = TypeOf(exitCode);
    event.id = static_cast<DWORD>(100 + (exitCode < -1 ? -1 : exitCode > 900 ? 900 : exitCode));
    event.text = std::wstring(L"Tidewash ") + mode + L": exit code " + std::to_wstring(exitCode) + L" (" +
                 Meaning(Outcome(exitCode)) + L")";
    if (summary)
        event.text += L"; found=" + std::to_wstring(summary->found) + L" removed=" + std::to_wstring(summary->removed) +
                      L" failed=" + std::to_wstring(summary->failed) + L" restart=" + std::to_wstring(summary->restart) +
                      L" unchecked=" + std::to_wstring(summary->unchecked);
    event.text += L"; report: " + (reportPath.empty() ? std::wstring(L"none could be written") : reportPath);
    return event;
}

bool WriteRunEvent(const RunEvent& event) {
    RegisterSource();
    HANDLE log = RegisterEventSourceW(nullptr, kSource);
    if (!log) {
        TW_LOG(LogLevel::Warning, "RegisterEventSourceW Error=%d", (int)GetLastError());
        return false;
    }
    const wchar_t* strings[] = {event.text.c_str()};
    const bool written = ReportEventW(log, event.type, 0, event.id, nullptr, 1, 0, strings, nullptr) != FALSE;
    if (!written) TW_LOG(LogLevel::Warning, "ReportEventW Error=%d", (int)GetLastError());
    DeregisterEventSource(log);
    return written;
}

}  // namespace unattended
