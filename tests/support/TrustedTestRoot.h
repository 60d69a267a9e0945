#pragma once
// The signature fixtures' test root (bin\signer\ca.der, made by tests/support/sign_fixtures.sh),
// trusted machine-wide while the object lives. The machine store needs no confirmation dialog, unlike
// the user's. Tests that use it take the test_root lock: it is one root for every test program.
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "tests/support/TestSupport.h"

class TrustedTestRoot {
public:
    TrustedTestRoot() {
        const std::string der = testsupport::ReadFileBytes(testsupport::BinFolder() + L"\\signer\\ca.der");
        store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
        if (!store_ || der.empty()) return;
        CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                         &certificate_);
    }
    ~TrustedTestRoot() {
        if (certificate_) CertDeleteCertificateFromStore(certificate_);  // also frees the context
        if (store_) CertCloseStore(store_, 0);
    }
    TrustedTestRoot(const TrustedTestRoot&) = delete;
    TrustedTestRoot& operator=(const TrustedTestRoot&) = delete;
    bool Added() const { return certificate_ != nullptr; }

private:
    HCERTSTORE store_ = nullptr;
    PCCERT_CONTEXT certificate_ = nullptr;
};
