#pragma once
// The API-hook step of a scan: every process tested against the hooked-entry table.
#include <string>
#include <vector>

#include <windows.h>

#include "grimlet/hooks/ApiHookCheck.h"
#include "grimlet/plugin/ScanRecord.h"

class OutOfReachProcesses;

// An image path as the system reports it, made into a plain file path: "\??\" dropped, and a leading
// "\SystemRoot\..." style component expanded from the environment variable of that name.
std::string NormaliseImagePath(const std::string& path);

// The record of `entry` found hooked in the process `processId`, whose image is `imagePath` (normalised).
ScanRecord ApiHookRecord(const HookedEntry& entry, const std::string& imagePath, DWORD processId);

// One API-hook record per hooked entry in every process of the machine, in the order of the processes
// and then of the table. Processes out of this process's reach are skipped, and counted in `outOfReach`
// when one is given.
std::vector<ScanRecord> CollectApiHookRecords(OutOfReachProcesses* outOfReach = nullptr);

// Tests the hooked-entry table in every process. May append API-hook records (kinds 3 to 9).
void ScanApiHooks(std::vector<ScanRecord>& results, OutOfReachProcesses& outOfReach);

// Writes back the hooked entry of an API-hook record's kind in its process; true when the entry's first
// bytes equal the module file's afterwards.
bool RepairApiHookRecord(const ScanRecord& record);
