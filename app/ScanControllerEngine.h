#pragma once
#include <memory>

#include "app/IDetectionEngine.h"
#include "engine/ScanController.h"
#include "platform/log/Lock.h"

class SKScanManager;

// The real engine behind the detection page: one ScanController.
class ScanControllerEngine final : public IDetectionEngine {
public:
    bool Initialize(IUiProgressCB* ui) override { return controller_.Initialize(ui); }
    void Deinitialize() override { controller_.Deinitialize(); }
    bool Scan() override;
    void Clean(const std::vector<int32_t>& itemIds) override { controller_.Clean(itemIds); }
    void Stop() override;

private:
    ScanController controller_;
    // Stop() comes from the page's thread while the worker may still be building the controller: it
    // reaches the scan manager only through what Scan() publishes here.
    CCriticalSectionLock lock_;
    bool stopRequested_ = false;
    std::shared_ptr<SKScanManager> running_;
};
