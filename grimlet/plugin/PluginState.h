#pragma once
// The DLL's process-wide state: one copy per process, created on first use and kept until the
// process ends.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "grimlet/plugin/ScanRecord.h"

class IPluginRuntimeV0;
class PluginGeneralImpl;

struct PluginState {
    uint32_t instanceCount = 0;           // successful factory calls; the factory runs only once
    int pluginId = 0;                     // from IPluginHelper::Register, passed back on every report
    int typeId = 0;                       // from RegisterTypeName("PLUGIN FOR GRIMLET")
    IPluginRuntimeV0* runtime = nullptr;  // kept, never called
    PluginGeneralImpl* handler = nullptr;
    volatile LONG referenceCount = 0;     // the handler's references
    std::vector<ScanRecord> results;      // findings of the last scan; index = found id

    static PluginState& Instance();
};
