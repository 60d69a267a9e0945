#include "platform/hash/SignatureCore.h"

// clang-format off
#include <wintrust.h>
#include <softpub.h>
// clang-format on

#include <cwchar>
#include <memory>
#include <new>

#include "platform/win32/CatalogAdminContext.h"

namespace signature {

namespace {

LONG VerifyTrust(const TrustCall& call, WINTRUST_DATA& data) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    data.cbStruct = sizeof(WINTRUST_DATA);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = 0;
    if (call.state == TrustCall::State::AutoCache) {
        data.dwStateAction = WTD_STATEACTION_AUTO_CACHE;
        return WinVerifyTrust(call.window, &action, &data);
    }
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    const LONG verdict = WinVerifyTrust(call.window, &action, &data);
    // Releases the state the verification leaves behind.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(call.window, &action, &data);
    return verdict;
}

}  // namespace

bool QuerySignedMessage(DWORD objectType, const void* object, DWORD expectedContent, SignedMessage& signedMessage) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    DWORD encoding = 0, contentType = 0, formatType = 0;
    if (!CryptQueryObject(objectType, object, expectedContent, CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding,
                          &contentType, &formatType, &store, &message, nullptr))
        return false;
    signedMessage.store.Attach(store);
    signedMessage.message.Attach(message);
    return true;
}

SignerNameStep ReadSignerName(const SignedMessage& signedMessage, std::wstring& name) {
    DWORD size = 0;
    if (!CryptMsgGetParam(signedMessage.message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0)
        return SignerNameStep::SignerInfoSize;
    std::unique_ptr<BYTE[]> infoBytes(new (std::nothrow) BYTE[size]());
    if (!infoBytes) return SignerNameStep::SignerInfoMemory;
    if (!CryptMsgGetParam(signedMessage.message.Get(), CMSG_SIGNER_INFO_PARAM, 0, infoBytes.get(), &size))
        return SignerNameStep::SignerInfo;
    const CMSG_SIGNER_INFO* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(infoBytes.get());

    CERT_INFO wanted = {};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    Certificate certificate(CertFindCertificateInStore(signedMessage.store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                       0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    if (!certificate.IsValid()) return SignerNameStep::Certificate;

    const DWORD length = CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length == 0) return SignerNameStep::NameLength;
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[length]());
    if (!text) return SignerNameStep::Name;
    if (CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, text.get(), length) == 0)
        return SignerNameStep::Name;
    text[length - 1] = L'\0';
    name = text.get();
    return SignerNameStep::None;
}

LONG VerifyFileTrust(const TrustCall& call, const std::wstring& path, HANDLE file) {
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    fileInfo.pgKnownSubject = nullptr;
    WINTRUST_DATA data = {};
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    return VerifyTrust(call, data);
}

LONG VerifyCatalogMemberTrust(const TrustCall& call, const std::wstring& catalogFile, const std::wstring& memberTag,
                              const std::wstring& memberPath, HANDLE memberFile) {
    WINTRUST_CATALOG_INFO member = {};
    member.cbStruct = sizeof member;
    member.dwCatalogVersion = 0;
    member.pcwszCatalogFilePath = catalogFile.c_str();
    member.pcwszMemberTag = memberTag.c_str();
    member.pcwszMemberFilePath = memberPath.c_str();
    member.hMemberFile = memberFile;
    WINTRUST_DATA data = {};
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &member;
    return VerifyTrust(call, data);
}

CatalogMatch FindCatalogOf(HCATADMIN admin, HANDLE file, DWORD hashRoom) {
    CatalogMatch match;
    std::vector<BYTE> hash(hashRoom);
    DWORD hashSize = hashRoom;
    if (!CryptCATAdminCalcHashFromFileHandle(file, &hashSize, hash.data(), 0)) {
        match.outcome = CatalogMatch::Outcome::HashFailed;
        match.hashError = GetLastError();
        return match;
    }
    hash.resize(hashSize);
    match.hash = hash;
    CatalogInfoContext catalog(admin, CryptCATAdminEnumCatalogFromHash(admin, hash.data(), hashSize, 0, nullptr));
    if (!catalog.IsValid()) {
        match.outcome = CatalogMatch::Outcome::NotListed;
        return match;
    }
    CATALOG_INFO info = {};
    info.cbStruct = sizeof info;
    if (!CryptCATCatalogInfoFromContext(catalog.Get(), &info, 0)) {
        match.outcome = CatalogMatch::Outcome::NoCatalogInfo;
        return match;
    }
    match.outcome = CatalogMatch::Outcome::Found;
    match.catalogFile = info.wszCatalogFile;
    return match;
}

std::wstring CatalogMemberTag(const std::vector<BYTE>& hash) {
    std::wstring tag;
    tag.reserve(hash.size() * 2);
    for (BYTE byte : hash) {
        wchar_t digits[3];
        swprintf(digits, 3, L"%02X", byte);
        tag += digits;
    }
    return tag;
}

}  // namespace signature
