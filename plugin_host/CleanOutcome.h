#pragma once
#include <cstdint>

#include "plugin_host/CleanResult.h"
#include "plugin_host/PluginInterface.h"

// A plug-in's clean outcome as a clean status: done, done after a restart, or failed.
inline int32_t CleanStatusFromPluginOutcome(int outcome) {
    if (outcome == kPluginCleanDone) return CleanStatus::Cleaned;
    if (outcome == kPluginCleanNeedsRestart) return CleanStatus::CleanedAfterRestart;
    return CleanStatus::Failed;
}
