#pragma once
#include "app/CommandLineOptions.h"

// The program started with arguments: no window and no message box, whatever happens, so that a
// start-up script, a scheduled task or a service account never waits for a click.
namespace unattended {

// The exit code for a command line that was not understood.
constexpr int kUsage = 87;  // ERROR_INVALID_PARAMETER
// The report could not be written where asked; it went to the per-machine reports folder.
constexpr int kReportElsewhere = 5;

// Runs a scan or a clean as `options` asks, or only writes the usage, and returns the exit code.
int Run(const CommandLineOptions& options);

}  // namespace unattended
