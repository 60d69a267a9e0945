#pragma once
// The API-hook step of a scan, and the removal of what it found. Every process is tested against the
// hooked-entry table, but only a hook that WormHookProof calls the worm's becomes a finding; every
// other difference is logged with its reason and left alone.
#include <string>
#include <vector>

#include <windows.h>

#include "grimlet/hooks/ApiHookCheck.h"
#include "grimlet/plugin/ScanRecord.h"

class OutOfReachProcesses;

// An image path as the system reports it, made into a plain file path: "\??\" dropped, and a leading
// "\SystemRoot\..." style component expanded from the environment variable of that name.
std::string NormaliseImagePath(const std::string& path);

// The path of a process's image as the kernel names it (not as the process's own blocks say), with
// the device turned into its drive letter where one maps it.
std::wstring KernelImagePath(HANDLE process);

// The record of `entry` found hooked in the process `processId`, whose image is `imagePath`.
ScanRecord ApiHookRecord(const HookedEntry& entry, const std::wstring& imagePath, DWORD processId);

// One record per proven worm hook in every process of the machine, in the order of the processes and
// then of the table. Processes out of this process's reach are skipped, and counted in `outOfReach`
// when one is given. Reads the worm-thread list of this scan: a hook is the worm's only where one of
// its threads runs.
std::vector<ScanRecord> CollectApiHookRecords(OutOfReachProcesses* outOfReach = nullptr);

// Appends the proven hooks as API-hook records (kinds 3 to 9).
void ScanApiHooks(std::vector<ScanRecord>& results, OutOfReachProcesses& outOfReach);

// Undoes the hooks of `records`, all of one process: its threads are held still, each hook is proven
// again, written back once no thread runs in its bytes, and read back. Afterwards the process is
// searched again for worm threads that its hooks started since the scan. One result per record: true
// when the entry holds the file's bytes.
std::vector<bool> RepairWormHooks(const std::vector<const ScanRecord*>& records);
bool RepairApiHookRecord(const ScanRecord& record);
