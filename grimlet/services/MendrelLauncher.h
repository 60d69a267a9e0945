#pragma once
#include <windows.h>

#include <string>

#include "grimlet/services/ServiceEntry.h"

// The folder the cleanup engine ships in: the folder of the module holding this code (grimlet.dll in
// the work folder's "plugin" folder), whatever the current directory is. Empty if it cannot be told.
std::wstring EngineFolder();

// "<folder>\RunMendrel" -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH="<dll>"; empty when the
// line would not fit 2048 characters.
std::wstring BuildMendrelCommandLine(const std::wstring& engineFolder, const std::wstring& dllPath);

// Plug-in clean outcomes above this one carry the cleanup engine's exit code: outcome = base + code.
constexpr int kCleanOutcomeEngineBase = 16;

// The clean outcome of one worm service from what the engine said and whether the service key is gone
// afterwards: both must agree on a removal. 0 or 3 (a service sharing the DLL went earlier) with the key
// gone: done; 1 with the key gone: done at the next restart; anything else: base + the engine's code.
// An engine that did not run, or whose code could not be read, has failed.
int CleanOutcomeOfEngine(bool engineEnded, int engineCode, bool keyGone);

// Runs `commandLine` (an engine command line) hidden in `folder` and waits for it to end; false, with the
// reason in the log, when it did not start or its exit code cannot be read.
bool RunEngineHidden(const std::wstring& folder, const std::wstring& commandLine, DWORD& exitCode);

// Runs the engine hidden for the entry's DLL, waits for it to end, and gives the plug-in clean outcome
// (CleanOutcomeOfEngine) of its exit code and the key test.
int RunMendrelForService(const ServiceEntry& entry);
int RunMendrelForService(const ServiceEntry& entry, const std::wstring& engineFolder);
