#pragma once
#include <string>

#include "grimlet/common/TrustedSigner.h"
#include "grimlet/services/ServiceEntry.h"

// What examining one service key found.
struct ServiceKeyVerdict {
    bool examined = false;  // false: the key could not be looked at, and `why` says why
    std::wstring why;
    bool found = false;     // a netsvcs service with an untrusted DLL
    std::wstring dllPath;
    int unlocked = 0;
};

// Looks at one key under HKEY_LOCAL_MACHINE (a path such as "SYSTEM\CurrentControlSet\Services\x"),
// taking over - and afterwards restoring - a key or Parameters subkey that denies reading.
ServiceKeyVerdict CheckServiceKey(const std::wstring& keyPath, TrustedSignerTest isTrusted);
