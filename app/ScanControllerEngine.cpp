#include "app/ScanControllerEngine.h"

#include "engine/SKScanManager.h"

bool ScanControllerEngine::Scan() {
    // Held for the whole scan: a Deinitialize elsewhere must not free the manager under the scan.
    std::shared_ptr<SKScanManager> scanManager = controller_.GetScanManager();
    if (!scanManager) return false;
    scanManager->Scan();
    return true;
}
