#pragma once
// The worm DLLs this scan has proven, named and hashed when they were proven: the drive walk and the
// task step judge other files against these, so a DLL that changes afterwards proves nothing.
#include <string>
#include <vector>

#include "grimlet/plugin/ScanRecord.h"
#include "grimlet/tasks/WormTaskDecision.h"

// One entry per worm-service record whose DLL could be opened and hashed, each DLL once.
std::vector<ProvenWormDll> ProveWormDlls(const std::vector<ScanRecord>& results, ITaskFileLookup& lookup);

std::vector<std::string> Sha1sOf(const std::vector<ProvenWormDll>& dlls);
