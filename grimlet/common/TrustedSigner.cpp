#include "grimlet/common/TrustedSigner.h"

#include "grimlet/common/CheckFileSigner.h"

bool IsSignedByTrustedSigner(const std::wstring& path) {
    return CheckFileSigner(path, TrustedSignerList()) == kSignerTrusted;
}
