#include "grimlet/plugin/PluginState.h"

PluginState& PluginState::Instance() {
    // Never freed: it must outlive everything that may still run while the DLL detaches.
    static PluginState* state = new PluginState();
    return *state;
}
