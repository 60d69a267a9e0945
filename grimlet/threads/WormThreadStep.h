#pragma once
// The worm-thread step of a scan: which processes are searched, and the one finding it reports.
#include <string>
#include <utility>
#include <vector>

#include "grimlet/plugin/ScanRecord.h"

class OutOfReachProcesses;

// The (image name, command filter) pairs that are searched, in order: netsvcs service hosts, then
// the service control manager.
std::vector<std::pair<std::wstring, std::wstring>> WormThreadTargets();

// Refills the thread snapshot and the process-wide worm-thread list (left empty, with an error line,
// when the snapshot fails); appends at most one
// kWormThreads record, however many threads were found. The processes it could not examine are
// counted in `outOfReach`.
void ScanWormThreads(std::vector<ScanRecord>& results, OutOfReachProcesses& outOfReach);
