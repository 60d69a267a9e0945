// Removal of one finding, by its kind.
#include "grimlet/plugin/CleanRecord.h"

#include "grimlet/hooks/ApiHookStep.h"
#include "grimlet/plugin/AutoRunStep.h"
#include "grimlet/plugin/CopyAndTaskRemoval.h"
#include "grimlet/services/WormServiceStep.h"
#include "grimlet/threads/WormThreadTermination.h"
#include "plugin_host/PluginInterface.h"

namespace {
int OutcomeOf(bool removed) { return removed ? kPluginCleanDone : kPluginCleanFailed; }
}  // namespace

int CleanRecord(const std::vector<ScanRecord>& results, uint32_t index) {
    if (index >= results.size()) return kPluginCleanFailed;
    const ScanRecord& record = results[index];
    if (record.kind == kScanRecordWormService) return CleanWormServiceRecord(record);
    if (record.kind == kScanRecordWormThreads) return OutcomeOf(TerminateWormThreads());
    if (record.kind >= kScanRecordApiHookFirst && record.kind <= kScanRecordApiHookLast)
        return OutcomeOf(RepairApiHookRecord(record));
    if (record.kind == kScanRecordAutoRun) return TurnAutoRunOff();
    if (record.kind == kScanRecordDriveCopy) return CleanDriveCopyRecord(record);
    if (record.kind == kScanRecordWormTask) return CleanWormTaskRecord(record);
    return kPluginCleanFailed;
}
