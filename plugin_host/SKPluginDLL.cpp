#include "plugin_host/SKPluginDLL.h"

#include "plugin_host/PluginInterface.h"

namespace Gantry {
namespace plugin {

SKPluginDLL::~SKPluginDLL() {
    if (module_) FreeLibrary(module_);
}

int SKPluginDLL::LoadAndInitialize(IPluginHelper* helper) {
    // A broken or foreign DLL must fail quietly, not stop the scan with a system error box.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    module_ = LoadLibraryW(path_.c_str());
    SetErrorMode(previousMode);
    if (!module_) return 0;
    auto factory = reinterpret_cast<SK_GetPluginInstanceFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, kPluginFactoryExportName)));
    if (!factory) return 0;
    return factory(helper) > 0 ? 1 : 0;
}

}  // namespace plugin
}  // namespace Gantry
