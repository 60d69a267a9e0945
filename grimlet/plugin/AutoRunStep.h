#pragma once
// AutoRun as the plug-in sees it: a row when it is not off for good, and, when the row is chosen, the
// cleanup engine run to turn it off (the engine keeps the previous values in its quarantine first).
#include <string>
#include <vector>

#include "grimlet/plugin/ScanRecord.h"

// Appends the AutoRun record ("自动播放") unless the mapping turns it off for good. Reads only.
void ScanAutoRun(std::vector<ScanRecord>& results);

// "<folder>\RunMendrel" -autorun=off; empty when it would not fit 2048 characters.
std::wstring BuildAutoRunCommandLine(const std::wstring& engineFolder);

// Done only when the engine said so and AutoRun reads as off afterwards; otherwise the engine's code on
// the plug-in's failure base (kCleanOutcomeEngineBase), or failed when the engine never ended.
int AutoRunOutcome(bool engineEnded, int engineCode, bool offNow);

// Runs the engine hidden with that command line, waits for it and gives the plug-in clean outcome.
int TurnAutoRunOff();
int TurnAutoRunOff(const std::wstring& engineFolder);
