#include "grimlet/TrustedSigner.h"

#include "grimlet/CheckFileSigner.h"

bool IsSignedByTrustedSigner(const std::wstring& path) {
    return CheckFileSigner(path, TrustedSignerList()) == kSignerTrusted;
}
