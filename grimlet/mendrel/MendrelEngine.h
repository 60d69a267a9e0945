#pragma once
#include <string>

#include "grimlet/common/TrustedSigner.h"

// The removal the engine performs for one worm DLL: every netsvcs service using it is stopped and its
// key and group entry deleted; the DLL is opened once, copied into quarantine through that handle, its
// signer checked on the copy, and deleted through the same handle (at the next restart if it is in
// use). The service keys are saved there before they go, as far as they can be: what could not be
// saved is named in the manifest. A DLL signed by a trusted signer, one that cannot be read (its signer
// cannot be checked) or a quarantine that cannot take the copy stops everything before any change, and
// services stopped so that the DLL could be read run again.
class MendrelEngine {
public:
    MendrelEngine(const std::wstring& quarantineFolder, TrustedSignerTest isTrusted)
        : quarantineFolder_(quarantineFolder), isTrusted_(isTrusted) {}

    // One of MendrelExitCode.
    int Run(const std::wstring& dllPath);

    const std::wstring& QuarantineFolder() const { return quarantineFolder_; }

private:
    int Remove(const std::wstring& dllPath);

    std::wstring quarantineFolder_;
    TrustedSignerTest isTrusted_;
};
