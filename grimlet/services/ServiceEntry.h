#pragma once
#include <windows.h>

#include <string>

// One suspicious netsvcs service found by the service check. Entries live in the process-wide service
// list, which the next scan clears; a worm-service ScanRecord points at its entry until then.
struct ServiceEntry {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::wstring keyPath;  // "SYSTEM\CurrentControlSet\Services\<name>", relative to `root`
    std::wstring dllPath;  // the service DLL, environment variables expanded
    int unlocked = 0;      // 1 when the key or its Parameters subkey denied reading and was taken over
};
