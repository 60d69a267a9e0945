#pragma once
// Owners of the CryptoAPI objects that reading a signature hands out: the certificate store and the
// message of CryptQueryObject, and a certificate found in such a store.
#include <windows.h>
#include <wincrypt.h>

#include "platform/win32/OwnedHandle.h"

struct CertStoreTraits {
    using Type = HCERTSTORE;
    static bool IsNone(Type store) { return store == nullptr; }
    static Type None() { return nullptr; }
    static bool Release(Type store) { return CertCloseStore(store, 0) != FALSE; }
};
using CertStore = OwnedHandle<CertStoreTraits>;

struct CryptMessageTraits {
    using Type = HCRYPTMSG;
    static bool IsNone(Type message) { return message == nullptr; }
    static Type None() { return nullptr; }
    static bool Release(Type message) { return CryptMsgClose(message) != FALSE; }
};
using CryptMessage = OwnedHandle<CryptMessageTraits>;

struct CertificateTraits {
    using Type = PCCERT_CONTEXT;
    static bool IsNone(Type certificate) { return certificate == nullptr; }
    static Type None() { return nullptr; }
    static bool Release(Type certificate) { return CertFreeCertificateContext(certificate) != FALSE; }
};
using Certificate = OwnedHandle<CertificateTraits>;
