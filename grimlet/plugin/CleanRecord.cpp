// Removal of one finding, by its kind.
#include "grimlet/plugin/CleanRecord.h"

#include "grimlet/hooks/ApiHookStep.h"
#include "grimlet/services/WormServiceStep.h"
#include "grimlet/threads/WormThreadTermination.h"

bool CleanRecord(const std::vector<ScanRecord>& results, uint32_t index) {
    if (index >= results.size()) return false;
    const ScanRecord& record = results[index];
    if (record.kind == kScanRecordWormService) return CleanWormServiceRecord(record);
    if (record.kind == kScanRecordWormThreads) return TerminateWormThreads();
    if (record.kind >= kScanRecordApiHookFirst && record.kind <= kScanRecordApiHookLast) return RepairApiHookRecord(record);
    return false;
}
