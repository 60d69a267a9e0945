#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>

#include <string>
#include <vector>

#include "platform/hash/SKFileSignature.h"
#include "tests/platform/AccessModeSwap.h"
#include "tests/support/InstalledCatalog.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TrustedTestRoot.h"

using namespace testsupport;

namespace {

// The unsigned program beside the tests; its signed copies, the catalog and its member in signer\.
std::wstring Sample(const wchar_t* name) { return BinFolder() + L"\\" + name; }
std::wstring Signed(const wchar_t* name) { return BinFolder() + L"\\signer\\" + name; }

TEST(GetSignerName, ReadsTheSignersDisplayName) {
    wchar_t name[MAX_PATH] = L"untouched";
    ASSERT_TRUE(GetSignerName(Signed(L"signed_sample.exe"), name));
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
    ASSERT_TRUE(GetSignerName(Signed(L"signed_longname.exe"), name));
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
    EXPECT_TRUE(VerifyFileSignature(Signed(L"signed_sample.exe"), name, isSigned));
    // Wine 8's trust provider accepts a self-made root that no store trusts; Windows answers
    // CERT_E_UNTRUSTEDROOT. The check itself is carried out on both.
    EXPECT_EQ(isSigned, RunningOnWine());
}

TEST(VerifyFileSignature, ATrustedEmbeddedSignatureGivesTheSignersName) {
    TrustedTestRoot root;
    ASSERT_TRUE(root.Added());
    wchar_t name[MAX_PATH] = L"";
    bool isSigned = false;
    EXPECT_TRUE(VerifyFileSignature(Signed(L"signed_sample.exe"), name, isSigned));
    EXPECT_TRUE(isSigned);
    EXPECT_STREQ(name, L"Tidewash Test Signer");

    // The same signature over changed code is rejected: checked, not signed.
    isSigned = true;
    EXPECT_TRUE(VerifyFileSignature(Signed(L"tampered_sample.exe"), name, isSigned));
    EXPECT_FALSE(isSigned);
}

TEST(VerifyFileSignature, AFileSignedThroughACatalogGetsTheCatalogSigner) {
    wchar_t name[MAX_PATH] = L"";
    bool isSigned = true;
    // Not yet in any catalog, and no signature of its own.
    EXPECT_TRUE(VerifyFileSignature(Signed(L"catalog_member.txt"), name, isSigned));
    EXPECT_FALSE(isSigned);

    // The catalog's own signature is not valid (see make_test_catalog.py): Windows may refuse to take it
    // into its database, Wine copies it in.
    InstalledCatalog catalog(Signed(L"catalog_sample.cat"));
    if (!catalog.Installed()) GTEST_SKIP() << "the system refused the test catalog";
    EXPECT_TRUE(VerifyFileSignature(Signed(L"catalog_member.txt"), name, isSigned));
    EXPECT_TRUE(isSigned);
    EXPECT_STREQ(name, L"Tidewash Catalog Signer");

    // A file the catalog does not list still goes by its own signature.
    EXPECT_TRUE(VerifyFileSignature(Sample(L"signature_sample.exe"), name, isSigned));
    EXPECT_FALSE(isSigned);
}

}  // namespace
