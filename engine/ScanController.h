#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/IUiProgressCB.h"

class SKItemManager;
class SKScanManager;
class SKCleanManager;
namespace Gantry {
namespace plugin {
class SKPluginManager;
}
}  // namespace Gantry

// The one object through which the detection page drives the engine: it builds the item, plug-in,
// scan and clean managers, wires every plug-in handler into the managers, and turns the user's
// choice into a clean run. One controller serves one scan and the cleans after it.
//
// Use from the page:
//   controller.Initialize(this)            // on the scan worker; false: call Deinitialize later
//   controller.GetScanManager()->Scan()    // on the scan worker; returns when the scan has ended
//   controller.Clean(chosenIds)            // on the clean worker; results arrive through the callback
class ScanController {
public:
    ScanController();
    // Releases the components (plug-in manager first) and nothing else: a controller whose
    // Initialize succeeded keeps the environment set up.
    ~ScanController();
    ScanController(const ScanController&) = delete;
    ScanController& operator=(const ScanController&) = delete;

    // Sets up the environment, creates the components, loads the plug-ins and wires their handlers.
    // `ui` is borrowed by the scan and clean managers and must outlive this controller's work.
    bool Initialize(IUiProgressCB* ui);
    // Releases the components and undoes the environment set-up if it was done.
    void Deinitialize();
    // Marks the listed items chosen and cleans them. An empty list does nothing.
    void Clean(const std::vector<int32_t>& itemIds);

    // Null until Initialize has created it (or after Deinitialize).
    const std::shared_ptr<SKScanManager>& GetScanManager() const { return scanManager_; }
    const std::shared_ptr<SKItemManager>& GetItemManager() const { return itemManager_; }
    const std::shared_ptr<SKCleanManager>& GetCleanManager() const { return cleanManager_; }
    const std::shared_ptr<Gantry::plugin::SKPluginManager>& GetPluginManager() const { return pluginManager_; }

private:
    void WireHandlers();

    // Declaration order is the release order in reverse: plug-in manager first.
    std::shared_ptr<SKItemManager> itemManager_;
    std::shared_ptr<SKScanManager> scanManager_;
    std::shared_ptr<SKCleanManager> cleanManager_;
    std::shared_ptr<Gantry::plugin::SKPluginManager> pluginManager_;
    int32_t environmentSetUp_ = 0;
};
