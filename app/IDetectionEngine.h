#pragma once
#include <cstdint>
#include <vector>

#include "engine/IUiProgressCB.h"

// What the detection page needs from the engine for one scan and the cleans after it. The shipped
// program drives a ScanController through ScanControllerEngine; tests put a scripted engine here.
class IDetectionEngine {
public:
    virtual ~IDetectionEngine() = default;
    // `ui` must outlive the engine's work.
    virtual bool Initialize(IUiProgressCB* ui) = 0;
    virtual void Deinitialize() = 0;
    // Runs one whole scan; false when there is nothing to scan with (no scan manager).
    virtual bool Scan() = 0;
    virtual void Clean(const std::vector<int32_t>& itemIds) = 0;
    // Asks the scan to end at its next check, whether it runs already or has yet to begin. Any thread.
    virtual void Stop() = 0;
};
