// grimlet.dll's entry points: the DLL entry and the plug-in factory.
#include <windows.h>

#include "grimlet/plugin/PluginGeneralImpl.h"
#include "grimlet/plugin/PluginLogger.h"
#include "grimlet/plugin/PluginState.h"
#include "plugin_host/PluginInterface.h"

namespace {
constexpr wchar_t kTypeName[] = L"PLUGIN FOR GRIMLET";
}

extern "C" __declspec(dllexport) int WINAPI SK_GetPluginInstance(IPluginHelper* helper) {
    PluginState& state = PluginState::Instance();
    if (!helper || state.instanceCount != 0) return 0;

    // The host queries the handler and calls its Initialize inside Register.
    IPluginUnknown* runtime = nullptr;
    if (!helper->Register(PluginGeneralImpl::Get(), &state.pluginId, &runtime)) return 0;
    helper->RegisterTypeName(kTypeName, &state.typeId);

    if (!runtime) return 0;
    void* runtimeV0 = nullptr;
    if (!runtime->QueryInterface(kInterfacePluginRuntimeV0, &runtimeV0) || !runtimeV0) return 0;
    state.runtime = static_cast<IPluginRuntimeV0*>(static_cast<IPluginUnknown*>(runtimeV0));

    ++state.instanceCount;
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        PluginLogger::Attach();
    } else if (reason == DLL_PROCESS_DETACH) {
        PluginLogger::Detach();
    }
    return TRUE;
}
