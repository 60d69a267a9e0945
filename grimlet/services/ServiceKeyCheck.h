#pragma once
#include <string>

#include "grimlet/common/TrustedSigner.h"
#include "grimlet/services/DeniedKeyAccess.h"
#include "grimlet/services/ServiceEntry.h"

// What examining one service key found.
struct ServiceKeyVerdict {
    bool examined = false;  // false: the key could not be looked at, and `why` says why
    std::wstring why;
    bool found = false;     // a netsvcs service with an untrusted DLL
    std::wstring dllPath;
    int unlocked = 0;       // 1: the key or its Parameters denied reading
    std::wstring securityNotRestored;  // not empty: an unlocked key's owner or list is not what it was
};

// Looks at one key under HKEY_LOCAL_MACHINE (a path such as "SYSTEM\CurrentControlSet\Services\x").
// A key or Parameters subkey that denies reading is read through `access` (DeniedKeyAccess.h); a key
// that had to be unlocked gets its owner and list back before this returns.
ServiceKeyVerdict CheckServiceKey(const std::wstring& keyPath, TrustedSignerTest isTrusted, DeniedKeyAccess& access);
// The same with the system's ways in, the netsvcs list read for this one call.
ServiceKeyVerdict CheckServiceKey(const std::wstring& keyPath, TrustedSignerTest isTrusted);
