#pragma once
#include <windows.h>

#include <string>

#include "app/unattended/UnattendedRun.h"

// The one event an unattended run leaves in the Application event log, source "Tidewash": its mode and
// exit code, the counts of a scan or clean, and where the report is. The source is registered as
// eventcreate registers its own (the system's EventCreate.exe as the message file, whose messages 1 to
// 1000 are each the inserted text alone), so that Event Viewer shows the description also after the
// program and its work folder are gone.
namespace unattended {

struct RunEvent {
    WORD type = EVENTLOG_INFORMATION_TYPE;
    DWORD id = 0;  // 100 + the exit code (99 for -1): within the message file's 1 to 1000
    std::wstring text;
};

// `summary` null: the run never got to its counts (it could not start its work, or is not a scan or a
// clean). `exitCode` is the program's, report fate included.
RunEvent MakeRunEvent(const wchar_t* mode, int exitCode, const UnattendedRun::Summary* summary,
                      const std::wstring& reportPath);

// Registers the source where it is not registered yet and writes the event; false (and nothing else
// happens) when the log cannot take it.
bool WriteRunEvent(const RunEvent& event);

}  // namespace unattended
