// grimlet.dll's entry points: the DLL entry and the plug-in factory.
#include <windows.h>

#include "plugin_host/PluginInterface.h"

extern "C" __declspec(dllexport) int WINAPI SK_GetPluginInstance(IPluginHelper* helper) {
    (void)helper;
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
