#pragma once
#include <string>

#include "grimlet/common/TrustedSigner.h"

// The removal the engine performs for one worm DLL: every netsvcs service using it is stopped and its
// key and group entry deleted; the DLL is copied into quarantine first and then deleted (at the next
// restart if it is in use), and the service keys are saved there whole before they go. A DLL signed by
// a trusted signer, or a quarantine that cannot take the copy or the keys, stops everything before any
// change.
class MendrelEngine {
public:
    MendrelEngine(const std::wstring& quarantineFolder, TrustedSignerTest isTrusted)
        : quarantineFolder_(quarantineFolder), isTrusted_(isTrusted) {}

    // One of MendrelExitCode.
    int Run(const std::wstring& dllPath);

    const std::wstring& QuarantineFolder() const { return quarantineFolder_; }

private:
    std::wstring quarantineFolder_;
    TrustedSignerTest isTrusted_;
};
