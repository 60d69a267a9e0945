#pragma once
#include "app/IDetectionEngine.h"
#include "engine/ScanController.h"

// The real engine behind the detection page: one ScanController.
class ScanControllerEngine final : public IDetectionEngine {
public:
    bool Initialize(IUiProgressCB* ui) override { return controller_.Initialize(ui); }
    void Deinitialize() override { controller_.Deinitialize(); }
    bool Scan() override;
    void Clean(const std::vector<int32_t>& itemIds) override { controller_.Clean(itemIds); }

private:
    ScanController controller_;
};
