#pragma once
#include <string>

class ScanReport;

// The administrator's way back from a clean, without a window: the cleanup engine's own -list and
// -restore=, run from the engine this run unpacked into its protected work folder, their outcome turned
// into report records. Both return the engine's exit code (its meanings kept), or -1 when the
// components could not be prepared or the engine not started.
namespace unattended {

// One ITEM record per quarantined item (SHA-1, original path, services, time, state), also written to
// standard output when that is a file or a pipe, then "SUMMARY items=N".
int ListQuarantine(ScanReport& report);

// Puts the item with this SHA-1 (40 upper-case hexadecimal digits) back; RESTORED or an ERROR record.
int RestoreItem(const std::wstring& sha1, ScanReport& report);

// What the engine's exit code of -list or -restore= means, for the report.
std::wstring EngineOutcomeText(int exitCode);

}  // namespace unattended
