// The signer check on real signatures: DLLs signed at build time by a throw-away root's certificates,
// and flat files listed by throw-away catalogs installed into the system's catalog database.
#include <gtest/gtest.h>

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>

#include <string>

#include "grimlet/common/CheckFileSigner.h"
#include "tests/support/FakeService.h"
#include "tests/support/InstalledCatalog.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TrustedTestRoot.h"

using namespace testsupport;

namespace {

std::wstring Fixture(const wchar_t* name) { return BinFolder() + L"\\signer\\" + name; }

class CheckFileSigner : public ::testing::Test {
protected:
    static void SetUpTestSuite() { root_ = new TrustedTestRoot(); }
    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(root_->Added()); }

    static uint32_t Check(const wchar_t* fixture) { return ::CheckFileSigner(Fixture(fixture), TrustedSignerList()); }

    static TrustedTestRoot* root_;
};
TrustedTestRoot* CheckFileSigner::root_ = nullptr;

bool Unverified(uint32_t result) { return result != kSignerTrusted && result != kSignerNotListed; }

// The trust check of an embedded signature with an explicit verify/close pair, independent of the
// check under test.
LONG VerifyWithStateAction(const std::wstring& path, DWORD stateAction) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = stateAction;
    LONG status = WinVerifyTrust(nullptr, &action, &data);
    if (stateAction == WTD_STATEACTION_VERIFY) {
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(nullptr, &action, &data);
    }
    return status;
}

// Wine 8 carries out no check at all for the cached state action the product uses (it returns
// success without looking); Windows verifies with it as with any other.
bool SystemVerifiesCachedChecks() {
    return VerifyWithStateAction(Fixture(L"unsigned.dll"), WTD_STATEACTION_AUTO_CACHE) != ERROR_SUCCESS;
}

TEST_F(CheckFileSigner, TheListedPublisherInTheFileIsTrusted) {
    EXPECT_EQ(Check(L"trusted.dll"), kSignerTrusted);
    EXPECT_STREQ(CheckedSignerName(), L"Microsoft Windows Publisher [D]");
}

TEST_F(CheckFileSigner, ThePublisherIsComparedExactlyCaseIncluded) {
    EXPECT_EQ(Check(L"upper.dll"), kSignerNotListed);
    EXPECT_STREQ(CheckedSignerName(), L"MICROSOFT WINDOWS PUBLISHER [D]");
    // Against a list that names it exactly, the same file is trusted.
    EXPECT_EQ(::CheckFileSigner(Fixture(L"upper.dll"), {L"MICROSOFT WINDOWS PUBLISHER"}), kSignerTrusted);
    EXPECT_EQ(::CheckFileSigner(Fixture(L"trusted.dll"), {L"Microsoft Windows Publisher "}), kSignerNotListed);
    EXPECT_EQ(::CheckFileSigner(Fixture(L"trusted.dll"), {}), kSignerNotListed);
}

TEST_F(CheckFileSigner, TheFixturesAreWhatTheyClaimToBe) {
    EXPECT_EQ(VerifyWithStateAction(Fixture(L"trusted.dll"), WTD_STATEACTION_VERIFY), ERROR_SUCCESS);
    EXPECT_EQ(static_cast<HRESULT>(VerifyWithStateAction(Fixture(L"unsigned.dll"), WTD_STATEACTION_VERIFY)),
              TRUST_E_NOSIGNATURE);
    EXPECT_EQ(static_cast<HRESULT>(VerifyWithStateAction(Fixture(L"tampered.dll"), WTD_STATEACTION_VERIFY)),
              TRUST_E_BAD_DIGEST);
}

TEST_F(CheckFileSigner, AnUnsignedFileIsUnverifiedWithBothStepsInTheCode) {
    const uint32_t result = Check(L"unsigned.dll");
    EXPECT_TRUE(Unverified(result)) << std::hex << result;
    // The embedded step failed: at the trust check (Windows: 0x100, no signature) or, where the system
    // skips that check, when reading the signer (0x3000).
    EXPECT_EQ(result & 0xFF00, SystemVerifiesCachedChecks() ? 0x100u : 0x3000u) << std::hex << result;
    EXPECT_EQ(result & 0xFFFF0000, 0x10000u) << std::hex << result;  // and no catalog lists it
    EXPECT_STREQ(CheckedSignerName(), L"");
}

TEST_F(CheckFileSigner, AFileChangedAfterSigningIsUnverified) {
    if (!SystemVerifiesCachedChecks()) {
        GTEST_SKIP() << "this system does not verify under WTD_STATEACTION_AUTO_CACHE (Wine 8)";
    }
    EXPECT_EQ(VerifyEmbeddedSignature(Fixture(L"tampered.dll")), 0x700u);  // TRUST_E_BAD_DIGEST
    const uint32_t result = Check(L"tampered.dll");
    EXPECT_TRUE(Unverified(result)) << std::hex << result;
    EXPECT_STREQ(CheckedSignerName(), L"");
}

TEST_F(CheckFileSigner, AMissingFileIsUnverified) {
    const uint32_t result = Check(L"no such file.dll");
    EXPECT_TRUE(Unverified(result)) << std::hex << result;
    EXPECT_EQ(result & 0xFFFF0000, 0x30000u) << std::hex << result;  // the catalog step could not open it
}

TEST_F(CheckFileSigner, AListedPublisherThroughACatalogIsTrusted) {
    // Neither member carries a signature of its own.
    EXPECT_TRUE(Unverified(Check(L"catalog_trusted_member.txt")));
    InstalledCatalog trusted(Fixture(L"catalog_trusted.cat"));
    InstalledCatalog upper(Fixture(L"catalog_upper.cat"));
    if (!trusted.Installed() || !upper.Installed()) GTEST_SKIP() << "the system refused the test catalogs";

    EXPECT_EQ(Check(L"catalog_trusted_member.txt"), kSignerTrusted);
    EXPECT_STREQ(CheckedSignerName(), L"Microsoft Windows Publisher [C]");
    EXPECT_EQ(Check(L"catalog_upper_member.txt"), kSignerNotListed);
    EXPECT_STREQ(CheckedSignerName(), L"MICROSOFT WINDOWS PUBLISHER [C]");
    // A signature in the file goes first.
    EXPECT_EQ(Check(L"trusted.dll"), kSignerTrusted);
    EXPECT_STREQ(CheckedSignerName(), L"Microsoft Windows Publisher [D]");
}

// A 32-bit process is shown SysWOW64 under the name System32, but the file that matters is the one the
// 64-bit service host loads. A signed namesake must not lend the native file its signer, and an unsigned
// one must not take it away.
TEST_F(CheckFileSigner, TheNativeFileIsCheckedNotItsSysWow64Namesake) {
    const std::string trusted = ReadFileBytes(Fixture(L"trusted.dll"));
    const std::string unsignedDll = ReadFileBytes(Fixture(L"unsigned.dll"));
    const std::wstring name = UniqueServiceStem(L"Signer") + L".dll";
    const std::wstring path = SystemFolderFile::ExpandedPath(name);
    {
        SystemFolderFile native(SystemFolderFile::kNativeSystem32, name, unsignedDll);
        SystemFolderFile namesake(SystemFolderFile::kSysWow64, name, trusted);
        ASSERT_TRUE(native.Written() && namesake.Written());
        EXPECT_TRUE(Unverified(::CheckFileSigner(path, TrustedSignerList())));
        EXPECT_STREQ(CheckedSignerName(), L"");
    }
    {
        SystemFolderFile native(SystemFolderFile::kNativeSystem32, name, trusted);
        SystemFolderFile namesake(SystemFolderFile::kSysWow64, name, unsignedDll);
        ASSERT_TRUE(native.Written() && namesake.Written());
        EXPECT_EQ(::CheckFileSigner(path, TrustedSignerList()), kSignerTrusted);
        EXPECT_STREQ(CheckedSignerName(), L"Microsoft Windows Publisher [D]");
    }
}

TEST(TrustedSignerList, HoldsTheSeventeenPublishersInOrder) {
    const std::vector<std::wstring> list = TrustedSignerList();
    ASSERT_EQ(list.size(), 17u);
    EXPECT_EQ(list[0], L"Microsoft");
    EXPECT_EQ(list[3], L"Microsoft Windows Publisher");
    EXPECT_EQ(list[11], L"Microsoft Windows Verification Intermediate PCA");
    EXPECT_EQ(list[12], L"Quorvel, Inc.");
    EXPECT_EQ(list[16], L"Quorvel Incorporated");
}

}  // namespace
