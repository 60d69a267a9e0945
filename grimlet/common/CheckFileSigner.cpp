#include "grimlet/common/CheckFileSigner.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <imagehlp.h>

#include <cstddef>
#include <vector>

#include "grimlet/common/NativeFileView.h"
#include "platform/hash/SignatureCore.h"
#include "platform/win32/CatalogAdminContext.h"

namespace {

constexpr std::size_t kMaxSignerName = 1023;  // characters, suffix included
constexpr std::size_t kMaxCertificateName = 1022;
constexpr DWORD kCatalogHashRoom = 260;
// No window; the verification's state is left to the provider's cache.
const signature::TrustCall kTrustCall = {nullptr, signature::TrustCall::State::AutoCache};

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
constexpr uint32_t kCatalogNoCatalog = kCatalogFileNotListed;
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

// The signature embedded in an image, read through its handle: the first entry of its certificate
// table that holds a signed message, the one WinVerifyTrust checks. The handle, unlike a path, still
// names the native file once the redirection is back on.
bool QueryEmbeddedMessage(HANDLE image, signature::SignedMessage& message) {
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
    return signature::QuerySignedMessage(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED, message);
}

// Reads the name of the signer of a signed message: an image's embedded signature, or a catalog. An
// empty name counts as none.
uint32_t GetSignerName(SignatureKind kind, const signature::SignedMessage& message) {
    std::wstring name;
    switch (signature::ReadSignerName(message, name)) {
    case signature::SignerNameStep::None: break;
    case signature::SignerNameStep::SignerInfoSize: return SignerNameFailure(kind, kNameSignerInfoSize);
    case signature::SignerNameStep::SignerInfoMemory: return SignerNameFailure(kind, kNameSignerInfoMemory);
    case signature::SignerNameStep::SignerInfo: return SignerNameFailure(kind, kNameSignerInfo);
    case signature::SignerNameStep::Certificate: return SignerNameFailure(kind, kNameCertificate);
    case signature::SignerNameStep::NameLength:
    case signature::SignerNameStep::Name: return SignerNameFailure(kind, kNameString);
    }
    if (name.empty()) return SignerNameFailure(kind, kNameString);
    SetSignerName(name.c_str());
    return 0;
}

uint32_t GetEmbeddedSignerName(HANDLE image) {
    signature::SignedMessage message;
    if (!QueryEmbeddedMessage(image, message)) return SignerNameFailure(SignatureKind::Embedded, kNameQueryObject);
    return GetSignerName(SignatureKind::Embedded, message);
}

// Catalogs lie in System32\CatRoot, which WOW64 never redirects: the path names the same file for every
// process.
uint32_t GetCatalogSignerName(const std::wstring& catalog) {
    signature::SignedMessage message;
    const DWORD expected = CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED | CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED;
    if (!signature::QuerySignedMessage(CERT_QUERY_OBJECT_FILE, catalog.c_str(), expected, message))
        return SignerNameFailure(SignatureKind::Catalog, kNameQueryObject);
    return GetSignerName(SignatureKind::Catalog, message);
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

namespace {
uint32_t VerifyCatalogSignatureOf(const std::wstring& path, bool withSignerName);
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
    LONG status = signature::VerifyFileTrust(kTrustCall, path, image.Get());
    if (status != ERROR_SUCCESS) return EmbeddedTrustFailure(status);
    return GetEmbeddedSignerName(image.Get());
}

uint32_t VerifyCatalogSignature(const std::wstring& path) { return VerifyCatalogSignatureOf(path, true); }

uint32_t VerifyCatalogTrust(const std::wstring& path) { return VerifyCatalogSignatureOf(path, false); }

namespace {

uint32_t VerifyCatalogSignatureOf(const std::wstring& path, bool withSignerName) {
    CatalogAdminContext admin;
    if (!admin.Acquire()) return kCatalogNoAdminContext;
    NativeFile file(path, GENERIC_READ);
    if (!file.IsOpen()) return kCatalogFileNotOpened;

    const signature::CatalogMatch catalog = signature::FindCatalogOf(admin.Get(), file.Get(), kCatalogHashRoom);
    switch (catalog.outcome) {
    case signature::CatalogMatch::Outcome::Found: break;
    case signature::CatalogMatch::Outcome::HashFailed: return CatalogHashFailure(catalog.hashError);
    case signature::CatalogMatch::Outcome::NotListed: return kCatalogNoCatalog;
    case signature::CatalogMatch::Outcome::NoCatalogInfo: return kCatalogNoCatalogInfo;
    }
    // The member is the hashed file, not whatever the path names for this process.
    if (signature::VerifyCatalogMemberTrust(kTrustCall, catalog.catalogFile, signature::CatalogMemberTag(catalog.hash),
                                            path, file.Get()) != ERROR_SUCCESS)
        return kCatalogNotTrusted;
    return withSignerName ? GetCatalogSignerName(catalog.catalogFile) : 0;
}

}  // namespace

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
