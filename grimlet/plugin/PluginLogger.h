#pragma once
// The plug-in's own diagnostic log: the platform logger compiled into this DLL (its own current
// instance, sequence counter and file lock), configured by the same "DebugLevel" value as the host's,
// writing "plugin.GRIMLET CLEANER.log" beside the host executable.
class PluginLogger {
public:
    static constexpr char kFileName[] = "plugin.GRIMLET CLEANER.log";

    // DLL attach: sets the log up unless it already is (which deletes the previous log file).
    static void Attach();
    // DLL detach: tears the log down (trace provider unregistered, no current instance) and frees it.
    static void Detach();
    static bool IsAttached();
};
