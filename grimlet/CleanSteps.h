#pragma once
// The removal steps that CleanRecord dispatches to besides the worm service.
#include "grimlet/ScanRecord.h"

// Terminates every thread of the worm-thread list; true when each was opened and terminated.
bool TerminateWormThreads();

// Writes back the hooked entry of an API-hook record's kind in its process; true when the entry's first
// bytes equal the module file's afterwards.
bool RepairApiHookRecord(const ScanRecord& record);
