#include "platform/hash/SKFileSignature.h"

// clang-format off
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
#include <mscat.h>
// clang-format on

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Owner of one handle-like value and the call that releases it.
template <typename T, typename Release>
class ScopedResource {
public:
    ScopedResource(T value, T invalid, Release release) : value_(value), invalid_(invalid), release_(release) {}
    ~ScopedResource() {
        if (value_ != invalid_) release_(value_);
    }
    ScopedResource(const ScopedResource&) = delete;
    ScopedResource& operator=(const ScopedResource&) = delete;
    T Get() const { return value_; }
    bool IsValid() const { return value_ != invalid_; }

private:
    T value_;
    T invalid_;
    Release release_;
};

template <typename T, typename Release>
ScopedResource<T, Release> Own(T value, T invalid, Release release) {
    return ScopedResource<T, Release>(value, invalid, release);
}

// The catalog administrator context: acquired once per process on first use and kept until exit. Two
// threads racing here both acquire; the loser releases its own context.
HCATADMIN CatalogAdmin() {
    static HCATADMIN volatile shared = nullptr;
    if (shared) return shared;
    HCATADMIN fresh = nullptr;
    if (!CryptCATAdminAcquireContext(&fresh, nullptr, 0)) return nullptr;
    HCATADMIN winner = static_cast<HCATADMIN>(
        InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&shared), fresh, nullptr));
    if (winner) {
        CryptCATAdminReleaseContext(fresh, 0);
        return winner;
    }
    return fresh;
}

// Asks the trust provider about the embedded signature of the open file and releases the state the
// verification leaves behind.
bool IsEmbeddedSignatureTrusted(const std::wstring& path, HANDLE file) {
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    fileInfo.pgKnownSubject = nullptr;

    WINTRUST_DATA trust = {};
    trust.cbStruct = sizeof trust;
    trust.dwUIChoice = WTD_UI_NONE;
    trust.fdwRevocationChecks = WTD_REVOKE_NONE;
    trust.dwUnionChoice = WTD_CHOICE_FILE;
    trust.pFile = &fileInfo;
    trust.dwStateAction = WTD_STATEACTION_VERIFY;
    trust.dwProvFlags = 0;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG verdict = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    trust.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    return verdict == 0;
}

}  // namespace

bool GetSignerName(const std::wstring& path, wchar_t (&signerName)[MAX_PATH]) {
    HCERTSTORE rawStore = nullptr;
    HCRYPTMSG rawMessage = nullptr;
    DWORD encoding = 0, contentType = 0, formatType = 0;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &rawStore,
                          &rawMessage, nullptr)) {
        return false;
    }
    auto store = Own(rawStore, HCERTSTORE(nullptr), [](HCERTSTORE s) { CertCloseStore(s, 0); });
    auto message = Own(rawMessage, HCRYPTMSG(nullptr), [](HCRYPTMSG m) { CryptMsgClose(m); });

    DWORD signerInfoSize = 0;
    if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &signerInfoSize) || signerInfoSize == 0)
        return false;
    auto signerInfo = Own(static_cast<PCMSG_SIGNER_INFO>(LocalAlloc(LPTR, signerInfoSize)), PCMSG_SIGNER_INFO(nullptr),
                          [](PCMSG_SIGNER_INFO p) { LocalFree(p); });
    if (!signerInfo.IsValid()) return false;
    if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, signerInfo.Get(), &signerInfoSize)) return false;

    CERT_INFO wanted = {};
    wanted.Issuer = signerInfo.Get()->Issuer;
    wanted.SerialNumber = signerInfo.Get()->SerialNumber;
    auto certificate = Own(CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                      CERT_FIND_SUBJECT_CERT, &wanted, nullptr),
                           PCCERT_CONTEXT(nullptr), [](PCCERT_CONTEXT c) { CertFreeCertificateContext(c); });
    if (!certificate.IsValid()) return false;

    DWORD nameLength = CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (nameLength == 0) return false;
    std::vector<wchar_t> name(nameLength, L'\0');
    if (CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), nameLength) == 0)
        return false;
    name.back() = L'\0';
    wcsncpy(signerName, name.data(), MAX_PATH);
    signerName[MAX_PATH - 1] = L'\0';
    return true;
}

bool VerifyFileSignature(const std::wstring& path, wchar_t (&signerName)[MAX_PATH], bool& isSigned) {
    isSigned = false;
    auto file = Own(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr),
                    INVALID_HANDLE_VALUE, [](HANDLE h) { CloseHandle(h); });
    if (!file.IsValid()) return false;

    HCATADMIN admin = CatalogAdmin();
    if (!admin) return false;

    bool checked = true;
    BYTE hash[32];
    DWORD hashSize = sizeof hash;
    if (CryptCATAdminCalcHashFromFileHandle(file.Get(), &hashSize, hash, 0)) {
        HCATINFO catalog = CryptCATAdminEnumCatalogFromHash(admin, hash, hashSize, 0, nullptr);
        if (catalog) {
            CATALOG_INFO info = {};
            info.cbStruct = sizeof info;
            if (!CryptCATCatalogInfoFromContext(catalog, &info, 0)) {
                checked = false;
            } else if (GetSignerName(info.wszCatalogFile, signerName)) {
                isSigned = true;
            }
            CryptCATAdminReleaseCatalogContext(admin, catalog, 0);
        }
    }
    if (!isSigned) {
        // The catalog hash has read the file; the trust provider starts from the front.
        SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
        if (IsEmbeddedSignatureTrusted(path, file.Get()) && GetSignerName(path, signerName)) isSigned = true;
    }
    return checked;
}
