#include "grimlet/plugin/PluginLogger.h"

#include <new>

#include "platform/log/Logger.h"

namespace {
Logger* g_pluginLogger = nullptr;  // lives from DLL attach to DLL detach
}

constexpr char PluginLogger::kFileName[];

void PluginLogger::Attach() {
    if (g_pluginLogger) return;
    g_pluginLogger = new (std::nothrow) Logger(kFileName);
}

void PluginLogger::Detach() {
    delete g_pluginLogger;
    g_pluginLogger = nullptr;
}

bool PluginLogger::IsAttached() { return g_pluginLogger != nullptr; }
