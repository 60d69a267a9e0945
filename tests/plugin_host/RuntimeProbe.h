#pragma once
// The test-only plug-in runtime_probe_plugin.dll: a plug-in that registers a general handler, takes
// the runtime it receives through the contract, and offers these exports so that a test can make it
// call the runtime through the runtime's operation table.
#include <windows.h>

extern "C" {
// The runtime object as Register wrote it, and as QueryInterface("interface_plugin_runtime_ver_1")
// gave it back.
typedef void* (*ProbeRegisteredRuntimeFn)();
typedef void* (*ProbeRuntimeFn)();
// The runtime's QueryInterface with `name`.
typedef int (*ProbeQueryInterfaceFn)(const wchar_t* name, void** out);
// Calls Release `times` times.
typedef void (*ProbeReleaseFn)(int times);
// Base, pattern, profile, log and extra folder, as the runtime returns them (pointers, not copies).
typedef void (*ProbeFoldersFn)(const wchar_t* folders[5]);
typedef int (*ProbeIsWow64Fn)();
typedef int (*ProbeLowLevelModeFn)();
// Calls the operation at table slot `slot` (0 = GetId) that takes no argument; only for operations
// without arguments.
typedef ULONG_PTR (*ProbeCallSlotFn)(int slot);
// Opens `path` for reading with CreateFileW (lockOpen 0) or OpenLockFileW (lockOpen 1), reads it to the
// end into `buffer` with ReadFile, rewinds with SetFilePointer and reads the first bytes again, and
// closes it with the matching close. Returns 1 on success; on failure 0 and the error in *error.
typedef int (*ProbeReadFileFn)(int lockOpen, const wchar_t* path, void* buffer, DWORD bufferSize, DWORD* bytesRead,
                               DWORD* fileSize, DWORD* error);
// Registry work in HKEY_CURRENT_USER\`keyPath` through the runtime. Each returns 0 on success or the
// number of the step that failed.
typedef int (*ProbeRegistryCreateFn)(const wchar_t* keyPath, const wchar_t* value);  // key, subkey, value
typedef int (*ProbeRegistryReadFn)(const wchar_t* keyPath, wchar_t* value, DWORD valueChars);
typedef int (*ProbeRegistryDeleteFn)(const wchar_t* keyPath);
// Copy, move, list, attribute query and both deletions in `folder`, which holds "source.txt".
typedef int (*ProbeFileOperationsFn)(const wchar_t* folder);
}
