#include "app/ScanControllerEngine.h"

#include "engine/SKScanManager.h"

bool ScanControllerEngine::Scan() {
    // Held for the whole scan: a Deinitialize elsewhere must not free the manager under the scan.
    std::shared_ptr<SKScanManager> scanManager = controller_.GetScanManager();
    if (!scanManager) return false;
    {
        CLockGuard guard(lock_);
        if (stopRequested_) return true;  // stopped before it began: nothing is scanned
        running_ = scanManager;
    }
    scanManager->Scan();
    CLockGuard guard(lock_);
    running_.reset();
    return true;
}

void ScanControllerEngine::Stop() {
    CLockGuard guard(lock_);
    stopRequested_ = true;
    if (running_) running_->Stop();
}
