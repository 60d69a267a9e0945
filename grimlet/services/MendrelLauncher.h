#pragma once
#include <string>

#include "grimlet/services/ServiceEntry.h"

// The folder the cleanup engine ships in: the folder of the module holding this code (grimlet.dll in
// the work folder's "plugin" folder), whatever the current directory is. Empty if it cannot be told.
std::wstring EngineFolder();

// "<folder>\RunMendrel" -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH="<dll>"; empty when the
// line would not fit 2048 characters.
std::wstring BuildMendrelCommandLine(const std::wstring& engineFolder, const std::wstring& dllPath);

// Runs the engine hidden for the entry's DLL, waits for it to end, and answers whether the service key
// is gone. The engine's exit code is not read: the key alone tells.
bool RunMendrelForService(const ServiceEntry& entry);
bool RunMendrelForService(const ServiceEntry& entry, const std::wstring& engineFolder);
