#pragma once
// Detection and removal steps that the general handler runs. Each scan step appends its findings to
// the result list that it is given (which the handler has cleared), in the order the handler calls
// them: services, then worm threads, then API hooks.
#include <cstdint>
#include <vector>

#include "grimlet/ScanRecord.h"

class OutOfReachProcesses;

// Reads the OS version and calibrates the thread-stack test; called once from Initialize.
void SetUpOsInfo();

// Refills the process-wide service list and appends one kWormService record per worm service.
void ScanWormServices(std::vector<ScanRecord>& results);

// Refills the thread snapshot and the process-wide worm-thread list; appends at most one
// kWormThreads record, however many threads were found. The process steps count in `outOfReach` the
// processes they could not examine.
void ScanWormThreads(std::vector<ScanRecord>& results, OutOfReachProcesses& outOfReach);

// Tests the hooked-entry table in every process. May append API-hook records (kinds 3 to 9).
void ScanApiHooks(std::vector<ScanRecord>& results, OutOfReachProcesses& outOfReach);

// Removes the finding at `index` of `results` (the current result list). False when the index is
// past its end, the kind is unknown, or the removal did not succeed.
bool CleanRecord(const std::vector<ScanRecord>& results, uint32_t index);
