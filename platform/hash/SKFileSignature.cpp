#include "platform/hash/SKFileSignature.h"

#include <cstring>

#include "platform/hash/SignatureCore.h"
#include "platform/win32/CatalogAdminContext.h"
#include "platform/win32/KernelHandle.h"

namespace {

// No window, and the state of each verification released by a second call.
const signature::TrustCall kTrustCall = {static_cast<HWND>(INVALID_HANDLE_VALUE),
                                         signature::TrustCall::State::VerifyThenClose};
constexpr DWORD kCatalogHashRoom = 32;

// The catalog administrator context: acquired once per process on first use and kept until exit. Two
// threads racing here both acquire; the loser releases its own context.
HCATADMIN CatalogAdmin() {
    static HCATADMIN volatile shared = nullptr;
    if (shared) return shared;
    CatalogAdminContext fresh;
    if (!fresh.Acquire()) return nullptr;
    HCATADMIN winner = static_cast<HCATADMIN>(
        InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&shared), fresh.Get(), nullptr));
    return winner ? winner : fresh.Detach();
}

}  // namespace

bool GetSignerName(const std::wstring& path, wchar_t (&signerName)[MAX_PATH]) {
    signature::SignedMessage message;
    if (!signature::QuerySignedMessage(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                                       message))
        return false;
    std::wstring name;
    if (signature::ReadSignerName(message, name) != signature::SignerNameStep::None) return false;
    wcsncpy(signerName, name.c_str(), MAX_PATH);
    signerName[MAX_PATH - 1] = L'\0';
    return true;
}

bool VerifyFileSignature(const std::wstring& path, wchar_t (&signerName)[MAX_PATH], bool& isSigned) {
    isSigned = false;
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;

    HCATADMIN admin = CatalogAdmin();
    if (!admin) return false;

    bool checked = true;
    const signature::CatalogMatch catalog = signature::FindCatalogOf(admin, file.Get(), kCatalogHashRoom);
    if (catalog.outcome == signature::CatalogMatch::Outcome::NoCatalogInfo) {
        checked = false;
    } else if (catalog.outcome == signature::CatalogMatch::Outcome::Found && GetSignerName(catalog.catalogFile, signerName)) {
        isSigned = true;
    }
    if (!isSigned) {
        // The catalog hash has read the file; the trust provider starts from the front.
        SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
        if (signature::VerifyFileTrust(kTrustCall, path, file.Get()) == 0 && GetSignerName(path, signerName))
            isSigned = true;
    }
    return checked;
}
