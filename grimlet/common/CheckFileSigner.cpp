#include "grimlet/common/CheckFileSigner.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>
#include <imagehlp.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "grimlet/common/NativeFileView.h"

namespace {

constexpr std::size_t kMaxSignerName = 1023;  // characters, suffix included
constexpr std::size_t kMaxCertificateName = 1022;

// Failure codes. Embedded kind: multiples of 0x100; catalog kind: multiples of 0x10000.
constexpr uint32_t kEmbeddedUnknownTrustError = 0x2000;
constexpr uint32_t kEmbeddedFileNotOpened = 0xC00;  // as CRYPT_E_FILE_ERROR
constexpr uint32_t kCatalogNoAdminContext = 0x20000;
constexpr uint32_t kCatalogFileNotOpened = 0x30000;
constexpr uint32_t kCatalogNoCatalogInfo = 0x40000;
constexpr uint32_t kCatalogNotTrusted = 0x50000;
constexpr uint32_t kCatalogHashBufferTooSmall = 0x60000;
constexpr uint32_t kCatalogHashInvalidFile = 0x70000;
constexpr uint32_t kCatalogHashInvalidParameter = 0x80000;
constexpr uint32_t kCatalogHashNoMemory = 0x90000;
constexpr uint32_t kCatalogNoCatalog = 0x10000;
constexpr uint32_t kCatalogHashOther = 0x200000;

enum class SignatureKind { Embedded, Catalog };

// The steps of reading the signer's name, each with its own code; scaled into the kind's family.
enum SignerNameStep : uint32_t {
    kNameQueryObject = 3,
    kNameSignerInfoSize = 4,
    kNameSignerInfoMemory = 5,
    kNameSignerInfo = 6,
    kNameCertificate = 7,
    kNameString = 8,
};

uint32_t SignerNameFailure(SignatureKind kind, SignerNameStep step) {
    // Embedded: 0x3000..0x8000; catalog: 0xA0000..0xF0000 (clear of the catalog step codes above).
    return kind == SignatureKind::Embedded ? step * 0x1000 : (step + 7) * 0x10000;
}

uint32_t EmbeddedTrustFailure(LONG status) {
    switch (static_cast<HRESULT>(status)) {
    case TRUST_E_NOSIGNATURE: return 0x100;
    case TRUST_E_SUBJECT_FORM_UNKNOWN: return 0x200;
    case TRUST_E_PROVIDER_UNKNOWN: return 0x300;
    case TRUST_E_EXPLICIT_DISTRUST: return 0x400;
    case TRUST_E_SUBJECT_NOT_TRUSTED: return 0x500;
    case CRYPT_E_SECURITY_SETTINGS: return 0x600;
    case TRUST_E_BAD_DIGEST: return 0x700;
    case CERT_E_UNTRUSTEDROOT: return 0x800;
    case CERT_E_EXPIRED: return 0x900;
    case CERT_E_CHAINING: return 0xA00;
    case CERT_E_REVOKED: return 0xB00;
    case CRYPT_E_FILE_ERROR: return 0xC00;
    case TRUST_E_ACTION_UNKNOWN: return 0xD00;
    case CERT_E_UNTRUSTEDTESTROOT: return 0xE00;
    case TRUST_E_NO_SIGNER_CERT: return 0xF00;
    case TRUST_E_CERT_SIGNATURE: return 0x1000;
    case CERT_E_WRONG_USAGE: return 0x1100;
    case TRUST_E_BASIC_CONSTRAINTS: return 0x1200;
    case TRUST_E_FINANCIAL_CRITERIA: return 0x1300;
    case CERT_E_CRITICAL: return 0x1400;
    default: return kEmbeddedUnknownTrustError;
    }
}

std::wstring& SignerName() {
    static std::wstring* name = new std::wstring();
    return *name;
}

void SetSignerName(const wchar_t* text) {
    std::wstring& name = SignerName();
    name.assign(text ? text : L"");
    if (name.size() > kMaxCertificateName) name.resize(kMaxCertificateName);
}

// Owners of the handles of one check.
struct CertStoreCloser {
    void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
struct CryptMsgCloser {
    void operator()(void* message) const { CryptMsgClose(static_cast<HCRYPTMSG>(message)); }
};
struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const { CertFreeCertificateContext(certificate); }
};
using CertStore = std::unique_ptr<void, CertStoreCloser>;
using CryptMessage = std::unique_ptr<void, CryptMsgCloser>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;

class CatalogAdmin {
public:
    CatalogAdmin() {
        if (!CryptCATAdminAcquireContext(&admin_, nullptr, 0)) admin_ = nullptr;
    }
    ~CatalogAdmin() {
        if (admin_) CryptCATAdminReleaseContext(admin_, 0);
    }
    CatalogAdmin(const CatalogAdmin&) = delete;
    CatalogAdmin& operator=(const CatalogAdmin&) = delete;
    HCATADMIN Get() const { return admin_; }

private:
    HCATADMIN admin_ = nullptr;
};

class CatalogContext {
public:
    CatalogContext(HCATADMIN admin, HCATINFO info) : admin_(admin), info_(info) {}
    ~CatalogContext() {
        if (info_) CryptCATAdminReleaseCatalogContext(admin_, info_, 0);
    }
    CatalogContext(const CatalogContext&) = delete;
    CatalogContext& operator=(const CatalogContext&) = delete;
    HCATINFO Get() const { return info_; }

private:
    HCATADMIN admin_;
    HCATINFO info_;
};

// The signed message of a file and the certificates it carries, from CryptQueryObject.
bool QuerySignedMessage(DWORD objectType, const void* object, DWORD expectedContent, CertStore& store,
                        CryptMessage& message) {
    HCERTSTORE rawStore = nullptr;
    HCRYPTMSG rawMessage = nullptr;
    DWORD encoding = 0, contentType = 0, formatType = 0;
    if (!CryptQueryObject(objectType, object, expectedContent, CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding,
                          &contentType, &formatType, &rawStore, &rawMessage, nullptr))
        return false;
    store.reset(rawStore);
    message.reset(rawMessage);
    return true;
}

// The signature embedded in an image, read through its handle: the first entry of its certificate
// table that holds a signed message, the one WinVerifyTrust checks. The handle, unlike a path, still
// names the native file once the redirection is back on.
bool QueryEmbeddedMessage(HANDLE image, CertStore& store, CryptMessage& message) {
    DWORD count = 0;
    DWORD index = 0;
    if (!ImageEnumerateCertificates(image, WIN_CERT_TYPE_PKCS_SIGNED_DATA, &count, &index, 1) || count == 0)
        return false;
    constexpr DWORD kHeader = offsetof(WIN_CERTIFICATE, bCertificate);
    DWORD length = 0;
    ImageGetCertificateData(image, index, nullptr, &length);  // asks for the size
    if (length <= kHeader) return false;
    std::vector<DWORD> buffer((length + sizeof(DWORD) - 1) / sizeof(DWORD));  // a WIN_CERTIFICATE is DWORD-aligned
    auto* certificate = reinterpret_cast<WIN_CERTIFICATE*>(buffer.data());
    if (!ImageGetCertificateData(image, index, certificate, &length)) return false;
    if (certificate->dwLength <= kHeader || certificate->dwLength > length) return false;
    CRYPT_DATA_BLOB blob = {certificate->dwLength - kHeader, certificate->bCertificate};
    return QuerySignedMessage(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED, store, message);
}

// Reads the name of the signer of a signed message: an image's embedded signature, or a catalog.
uint32_t GetSignerName(SignatureKind kind, const CertStore& store, const CryptMessage& message) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0) {
        return SignerNameFailure(kind, kNameSignerInfoSize);
    }
    std::unique_ptr<BYTE[]> infoBytes(new (std::nothrow) BYTE[size]);
    if (!infoBytes) return SignerNameFailure(kind, kNameSignerInfoMemory);
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, infoBytes.get(), &size)) {
        return SignerNameFailure(kind, kNameSignerInfo);
    }
    const CMSG_SIGNER_INFO* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(infoBytes.get());

    CERT_INFO wanted = {};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    Certificate certificate(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                       CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    if (!certificate) return SignerNameFailure(kind, kNameCertificate);

    DWORD length = CertGetNameStringW(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length <= 1) return SignerNameFailure(kind, kNameString);
    std::unique_ptr<wchar_t[]> name(new (std::nothrow) wchar_t[length]);
    if (!name) return SignerNameFailure(kind, kNameString);
    if (CertGetNameStringW(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.get(), length) <= 1) {
        return SignerNameFailure(kind, kNameString);
    }
    name[length - 1] = L'\0';
    SetSignerName(name.get());
    return 0;
}

uint32_t GetEmbeddedSignerName(HANDLE image) {
    CertStore store;
    CryptMessage message;
    if (!QueryEmbeddedMessage(image, store, message)) return SignerNameFailure(SignatureKind::Embedded, kNameQueryObject);
    return GetSignerName(SignatureKind::Embedded, store, message);
}

// Catalogs lie in System32\CatRoot, which WOW64 never redirects: the path names the same file for every
// process.
uint32_t GetCatalogSignerName(const std::wstring& catalog) {
    CertStore store;
    CryptMessage message;
    const DWORD expected = CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED | CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED;
    if (!QuerySignedMessage(CERT_QUERY_OBJECT_FILE, catalog.c_str(), expected, store, message))
        return SignerNameFailure(SignatureKind::Catalog, kNameQueryObject);
    return GetSignerName(SignatureKind::Catalog, store, message);
}

LONG VerifyTrust(WINTRUST_DATA& data) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    data.cbStruct = sizeof(WINTRUST_DATA);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwStateAction = WTD_STATEACTION_AUTO_CACHE;
    data.dwProvFlags = 0;
    return WinVerifyTrust(nullptr, &action, &data);
}

uint32_t CatalogHashFailure(DWORD error) {
    switch (error) {
    case ERROR_NOT_ENOUGH_MEMORY: return kCatalogHashNoMemory;
    case ERROR_INVALID_PARAMETER: return kCatalogHashInvalidParameter;
    case ERROR_INSUFFICIENT_BUFFER: return kCatalogHashBufferTooSmall;
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_INVALID: return kCatalogHashInvalidFile;
    default: return kCatalogHashOther;
    }
}

}  // namespace

std::vector<std::wstring> TrustedSignerList() {
    return {
        L"Microsoft",
        L"Microsoft Code Verification Root",
        L"Microsoft Windows Component Publisher",
        L"Microsoft Windows Publisher",
        L"Microsoft Windows Hardware Compatibility Publisher",
        L"Microsoft Windows XP Publisher",
        L"Microsoft Windows 2000 Publisher",
        L"Microsoft Corporation",
        L"Microsoft Corporation (Internal Use Only)",
        L"Microsoft Corporation MSN",
        L"Microsoft Windows",
        L"Microsoft Windows Verification Intermediate PCA",
        L"Quorvel, Inc.",
        L"Quorv",
        L"Quorvel",
        L"Quorvel Inc.",
        L"Quorvel Incorporated",
    };
}

const wchar_t* CheckedSignerName() { return SignerName().c_str(); }

uint32_t VerifyEmbeddedSignature(const std::wstring& path) {
    // Opened once, in the service host's view, and then only read through the handle: the trust check
    // and the signer's name both describe the file that svchost.exe loads.
    NativeFile image(path, GENERIC_READ);
    if (!image.IsOpen()) return kEmbeddedFileNotOpened;
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    file.hFile = image.Get();
    WINTRUST_DATA data = {};
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    LONG status = VerifyTrust(data);
    if (status != ERROR_SUCCESS) return EmbeddedTrustFailure(status);
    return GetEmbeddedSignerName(image.Get());
}

uint32_t VerifyCatalogSignature(const std::wstring& path) {
    CatalogAdmin admin;
    if (!admin.Get()) return kCatalogNoAdminContext;
    NativeFile file(path, GENERIC_READ);
    if (!file.IsOpen()) return kCatalogFileNotOpened;

    BYTE hash[260];
    DWORD hashSize = sizeof hash;
    if (!CryptCATAdminCalcHashFromFileHandle(file.Get(), &hashSize, hash, 0)) return CatalogHashFailure(GetLastError());

    CatalogContext catalog(admin.Get(), CryptCATAdminEnumCatalogFromHash(admin.Get(), hash, hashSize, 0, nullptr));
    if (!catalog.Get()) return kCatalogNoCatalog;
    CATALOG_INFO info = {};
    info.cbStruct = sizeof info;
    if (!CryptCATCatalogInfoFromContext(catalog.Get(), &info, 0)) return kCatalogNoCatalogInfo;

    // Catalogs index their members by the hash in upper-case hexadecimal.
    std::wstring tag;
    tag.reserve(hashSize * 2);
    for (DWORD i = 0; i < hashSize; ++i) {
        wchar_t digits[3];
        swprintf(digits, 3, L"%02X", hash[i]);
        tag += digits;
    }

    WINTRUST_CATALOG_INFO member = {};
    member.cbStruct = sizeof member;
    member.dwCatalogVersion = 0;
    member.pcwszCatalogFilePath = info.wszCatalogFile;
    member.pcwszMemberTag = tag.c_str();
    member.pcwszMemberFilePath = path.c_str();
    member.hMemberFile = file.Get();  // the hashed file, not whatever the path names for this process
    WINTRUST_DATA data = {};
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &member;
    if (VerifyTrust(data) != ERROR_SUCCESS) return kCatalogNotTrusted;
    return GetCatalogSignerName(info.wszCatalogFile);
}

uint32_t CheckFileSigner(const std::wstring& path, const std::vector<std::wstring>& trustedSigners) {
    SignerName().clear();
    const wchar_t* suffix = L" [D]";
    uint32_t embedded = VerifyEmbeddedSignature(path);
    if (embedded != 0) {
        SignerName().clear();
        uint32_t catalog = VerifyCatalogSignature(path);
        if (catalog != 0) {
            SignerName().clear();
            return embedded | catalog;
        }
        suffix = L" [C]";
    }

    uint32_t result = kSignerNotListed;
    for (const std::wstring& trusted : trustedSigners) {
        if (SignerName() == trusted) {
            result = kSignerTrusted;
            break;
        }
    }
    std::wstring& name = SignerName();
    name += suffix;
    if (name.size() > kMaxSignerName) name.resize(kMaxSignerName);
    return result;
}
