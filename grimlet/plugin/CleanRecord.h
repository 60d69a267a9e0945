#pragma once
#include <cstdint>
#include <vector>

#include "grimlet/plugin/ScanRecord.h"

// Removes the finding at `index` of `results` (the current result list) and gives its plug-in clean
// outcome: done, done at the next restart, or failed (the index past its end, an unknown kind, a
// removal that did not succeed; a worm service's failure carries the cleanup engine's code).
int CleanRecord(const std::vector<ScanRecord>& results, uint32_t index);
