#pragma once
#include <cstdint>
#include <vector>

#include "grimlet/plugin/ScanRecord.h"

// Removes the finding at `index` of `results` (the current result list). False when the index is
// past its end, the kind is unknown, or the removal did not succeed.
bool CleanRecord(const std::vector<ScanRecord>& results, uint32_t index);
