#include <gtest/gtest.h>


#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>

#include <string>
#include <vector>

#include "platform/hash/SKFileSignature.h"
#include "tests/platform/AccessModeSwap.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

std::wstring Sample(const wchar_t* name) { return BinFolder() + L"\\" + name; }

TEST(GetSignerName, ReadsTheSignersDisplayName) {
    wchar_t name[MAX_PATH] = L"untouched";
    ASSERT_TRUE(GetSignerName(Sample(L"signed_sample.exe"), name));
    EXPECT_STREQ(name, L"Tidewash Test Signer");
}

TEST(GetSignerName, FailsWithoutAnEmbeddedSignature) {
    wchar_t name[MAX_PATH] = L"untouched";
    EXPECT_FALSE(GetSignerName(Sample(L"signature_sample.exe"), name));
    EXPECT_FALSE(GetSignerName(Sample(L"no_such_file.exe"), name));
    EXPECT_STREQ(name, L"untouched");
}

TEST(GetSignerName, CutsALongNameTo259Characters) {
    // The certificate has no common name, unit or organisation: its display name is the e-mail address
    // of its alternative names, 300 characters long.
    wchar_t name[MAX_PATH];
    wmemset(name, L'#', MAX_PATH);
    ASSERT_TRUE(GetSignerName(Sample(L"signed_longname.exe"), name));
    EXPECT_EQ(wcslen(name), 259u);
    EXPECT_EQ(std::wstring(name), std::wstring(259, L'n'));
}

TEST(VerifyFileSignature, UnsignedFileIsCheckedAndNotSigned) {
    wchar_t name[MAX_PATH] = L"";
    bool isSigned = true;
    EXPECT_TRUE(VerifyFileSignature(Sample(L"signature_sample.exe"), name, isSigned));
    EXPECT_FALSE(isSigned);
}

TEST(VerifyFileSignature, AFileThatCannotBeOpenedIsNotChecked) {
    wchar_t name[MAX_PATH] = L"";
    bool isSigned = true;
    EXPECT_FALSE(VerifyFileSignature(Sample(L"no_such_file.exe"), name, isSigned));
    EXPECT_FALSE(isSigned);
}

TEST(VerifyFileSignature, ASignatureFromAnUnknownRootIsNotTrusted) {
    wchar_t name[MAX_PATH] = L"";
    bool isSigned = true;
    EXPECT_TRUE(VerifyFileSignature(Sample(L"signed_sample.exe"), name, isSigned));
    // Wine 8's trust provider accepts a self-made root that no store trusts; Windows answers
    // CERT_E_UNTRUSTEDROOT. The check itself is carried out on both.
    EXPECT_EQ(isSigned, RunningOnWine());
}

// Trusts the test signer's certificate as a root of the current user for a scope.
class TrustedTestRoot {
public:
    TrustedTestRoot() {
        std::string der = ReadFileBytes(Sample(L"test_signer.cer"));
        store_ = CertOpenSystemStoreW(0, L"ROOT");
        if (!store_ || der.empty()) return;
        added_ = CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING,
                                                  reinterpret_cast<const BYTE*>(der.data()),
                                                  static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                  &certificate_) != FALSE;
    }
    ~TrustedTestRoot() {
        if (certificate_) CertDeleteCertificateFromStore(certificate_);  // also frees the context
        if (store_) CertCloseStore(store_, 0);
    }
    TrustedTestRoot(const TrustedTestRoot&) = delete;
    TrustedTestRoot& operator=(const TrustedTestRoot&) = delete;
    bool Added() const { return added_; }

private:
    HCERTSTORE store_ = nullptr;
    PCCERT_CONTEXT certificate_ = nullptr;
    bool added_ = false;
};

TEST(VerifyFileSignature, ATrustedEmbeddedSignatureGivesTheSignersName) {
    TrustedTestRoot root;
    ASSERT_TRUE(root.Added());
    wchar_t name[MAX_PATH] = L"";
    bool isSigned = false;
    EXPECT_TRUE(VerifyFileSignature(Sample(L"signed_sample.exe"), name, isSigned));
    EXPECT_TRUE(isSigned);
    EXPECT_STREQ(name, L"Tidewash Test Signer");

    // The same signature over changed code is rejected: checked, not signed.
    isSigned = true;
    EXPECT_TRUE(VerifyFileSignature(Sample(L"tampered_sample.exe"), name, isSigned));
    EXPECT_FALSE(isSigned);
}

// Installs a catalog into the system's catalog database for a scope.
class InstalledCatalog {
public:
    explicit InstalledCatalog(const std::wstring& catalog)
        : name_(L"tidewash_test_" + std::to_wstring(GetCurrentProcessId()) + L".cat") {
        if (!CryptCATAdminAcquireContext(&admin_, nullptr, 0)) return;
        std::wstring source = catalog;
        HCATINFO info = CryptCATAdminAddCatalog(admin_, &source[0], &name_[0], 0);
        if (!info) return;
        installed_ = true;
        CryptCATAdminReleaseCatalogContext(admin_, info, 0);
    }
    ~InstalledCatalog() {
        if (installed_) CryptCATAdminRemoveCatalog(admin_, name_.c_str(), 0);
        if (admin_) CryptCATAdminReleaseContext(admin_, 0);
    }
    InstalledCatalog(const InstalledCatalog&) = delete;
    InstalledCatalog& operator=(const InstalledCatalog&) = delete;
    bool Installed() const { return installed_; }

private:
    std::wstring name_;
    HCATADMIN admin_ = nullptr;
    bool installed_ = false;
};

TEST(VerifyFileSignature, AFileSignedThroughACatalogGetsTheCatalogSigner) {
    wchar_t name[MAX_PATH] = L"";
    bool isSigned = true;
    // Not yet in any catalog, and no signature of its own.
    EXPECT_TRUE(VerifyFileSignature(Sample(L"catalog_member.txt"), name, isSigned));
    EXPECT_FALSE(isSigned);

    // The catalog's own signature is not valid (see make_test_catalog.py): Windows may refuse to take it
    // into its database, Wine copies it in.
    InstalledCatalog catalog(Sample(L"catalog_sample.cat"));
    if (!catalog.Installed()) GTEST_SKIP() << "the system refused the test catalog";
    EXPECT_TRUE(VerifyFileSignature(Sample(L"catalog_member.txt"), name, isSigned));
    EXPECT_TRUE(isSigned);
    EXPECT_STREQ(name, L"Tidewash Catalog Signer");

    // A file the catalog does not list still goes by its own signature.
    EXPECT_TRUE(VerifyFileSignature(Sample(L"signature_sample.exe"), name, isSigned));
    EXPECT_FALSE(isSigned);
}

}  // namespace
