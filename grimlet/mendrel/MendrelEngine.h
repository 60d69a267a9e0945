#pragma once
#include <string>

#include "grimlet/ServiceKeyCheck.h"

// The removal the engine performs for one worm DLL: every netsvcs service using it is stopped and its
// key and group entry deleted; the DLL is copied into quarantine first and then deleted (at the next
// restart if it is in use). A DLL signed by a trusted signer stops everything before any change.
class MendrelEngine {
public:
    MendrelEngine(const std::wstring& engineFolder, TrustedSignerTest isTrusted)
        : engineFolder_(engineFolder), isTrusted_(isTrusted) {}

    // One of MendrelExitCode.
    int Run(const std::wstring& dllPath);

    std::wstring QuarantineFolder() const { return engineFolder_ + L"\\quarantine"; }

private:
    std::wstring engineFolder_;
    TrustedSignerTest isTrusted_;
};
