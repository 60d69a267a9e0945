#pragma once
// What the program's signature check (VerifyFileSignature: catalog first, then the embedded signature)
// and the plug-in's (CheckFileSigner: embedded first, then the catalog) have in common. Each keeps its
// own order of checks, its own rules and its own results; this is the plumbing they share: the trust
// provider's verdict, the catalog that lists a file, and the name of a signed message's signer.
#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>

#include <string>
#include <vector>

#include "platform/win32/CryptObjects.h"

namespace signature {

// A signed message and the certificates that came with it.
struct SignedMessage {
    CertStore store;
    CryptMessage message;
};

// CryptQueryObject in binary format: `objectType` CERT_QUERY_OBJECT_FILE (`object` a path) or
// CERT_QUERY_OBJECT_BLOB (`object` a CRYPT_DATA_BLOB), `expectedContent` the CERT_QUERY_CONTENT_FLAG_*.
bool QuerySignedMessage(DWORD objectType, const void* object, DWORD expectedContent, SignedMessage& signedMessage);

// The step of reading a signer's name that failed; None when the name was read.
enum class SignerNameStep { None, SignerInfoSize, SignerInfoMemory, SignerInfo, Certificate, NameLength, Name };

// The simple display name of the first signer's certificate, found in the message's store by the
// signer's issuer and serial number. The name may be empty; the callers decide what that means.
SignerNameStep ReadSignerName(const SignedMessage& signedMessage, std::wstring& name);

// How a WinVerifyTrust call is made: its window argument and what happens to the state it leaves.
struct TrustCall {
    enum class State { AutoCache, VerifyThenClose };
    HWND window;
    State state;
};

// WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2, no UI, no revocation checks and no provider
// flags; the result is the provider's (0: trusted). `file` is the open file the path names.
LONG VerifyFileTrust(const TrustCall& call, const std::wstring& path, HANDLE file);
// The same for one member of a catalog: the file `memberFile`, listed in `catalogFile` under `memberTag`.
LONG VerifyCatalogMemberTrust(const TrustCall& call, const std::wstring& catalogFile, const std::wstring& memberTag,
                              const std::wstring& memberPath, HANDLE memberFile);

// The first catalog of the system's database that lists an open file, found by the file's catalog hash.
struct CatalogMatch {
    enum class Outcome { Found, HashFailed, NotListed, NoCatalogInfo };
    Outcome outcome = Outcome::NotListed;
    DWORD hashError = ERROR_SUCCESS;  // the system's error when the hash failed
    std::vector<BYTE> hash;           // the file's catalog hash, when it could be computed
    std::wstring catalogFile;         // the catalog's path, when found
};
// `hashRoom`: the bytes allowed for the hash.
CatalogMatch FindCatalogOf(HCATADMIN admin, HANDLE file, DWORD hashRoom);

// How catalogs index their members: the hash in upper-case hexadecimal.
std::wstring CatalogMemberTag(const std::vector<BYTE>& hash);

}  // namespace signature
