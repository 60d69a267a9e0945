#pragma once
// The API-hook step of a scan: every process tested against the hooked-entry table.
#include <string>
#include <vector>

#include <windows.h>

#include "grimlet/ApiHookCheck.h"
#include "grimlet/ScanRecord.h"

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
