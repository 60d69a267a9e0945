#pragma once
#include <string>

#include "app/StartUp.h"
#include "app/unattended/CommandLineOptions.h"

class PreparedWorkFolder;
class ScanReport;

// The program started with arguments: no window and no message box, whatever happens, so that a
// start-up script, a scheduled task or a service account never waits for a click.
namespace unattended {

// The exit code for a command line that was not understood.
constexpr int kUsage = 87;  // ERROR_INVALID_PARAMETER
// Another Tidewash run is in progress on this machine: nothing was done (as startup::kAlreadyRunning).
constexpr int kAlreadyRunning = startup::kAlreadyRunning;
// Added to the outcome (never to -1, 87 or 170): the report could not be written where asked and went to
// the per-machine reports folder; or it could not be written at all, not even there.
constexpr int kReportElsewhere = 16;
constexpr int kReportLost = 32;

// The dialog's start-up without the dialog: the same log and components, in a work folder of its own
// under the per-machine folder. False, with the ERROR record, when they cannot be prepared.
bool Prepared(const PreparedWorkFolder& workFolder, ScanReport& report);

// Adds what befell the report to a run's outcome, so that neither hides the other.
int WithReportOutcome(int outcome, bool reportElsewhere, bool reportLost);

// Runs what `options` asks (scan, clean, quarantine listing, restore), or only writes the usage, and
// returns the exit code.
int Run(const CommandLineOptions& options);

// A run whose program could not start its work (no protected copy could be made): the report with its
// ERROR record and the event, and -1.
int RunThatCouldNotStart(const CommandLineOptions& options, const std::wstring& why);

// Run, or with `refused` set RunThatCouldNotStart.
int RunOrRefuse(const CommandLineOptions& options, const std::wstring* refused);

}  // namespace unattended
