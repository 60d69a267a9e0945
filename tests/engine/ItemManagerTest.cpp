// Items, their ids and the file table; the lazily computed file properties.
#include <gtest/gtest.h>

#include "plugin_host/SKFile.h"
#include "plugin_host/SKItemManager.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestSupport.h"

namespace {

FindingRecord FileFinding(const std::wstring& path, int32_t severity = 4) {
    FindingRecord finding(2, L"FileGuard");
    finding.name = path;
    finding.severity = severity;
    finding.threatName = L"Trojan.X";
    finding.threatClass = L"Virus";
    finding.count = 2;
    return finding;
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

}  // namespace

TEST(ItemManager, IdsStartAtZeroPerManagerAndAreNeverReused) {
    SKItemManager first;
    EXPECT_EQ(0, first.FileResult(ScanResult()));
    EXPECT_EQ(1, first.FileResult(ScanResult()));
    first.Results().erase(1);
    EXPECT_EQ(2, first.FileResult(ScanResult()));
    SKItemManager second;
    EXPECT_EQ(0, second.FileResult(ScanResult()));
    EXPECT_EQ(nullptr, second.FindResult(5));
    EXPECT_EQ(0, second.FindResult(0)->id);
}

TEST(ItemManager, AFileFindingAddsOneFileEntryPerPathAndCarriesTheFileDigest) {
    testsupport::ScratchFolder folder(L"items");
    const std::wstring path = folder / L"evil.exe";
    ASSERT_TRUE(testsupport::WriteFileBytes(path, "abc"));
    SKItemManager items;
    const ScanResult& first = items.CreateResultFromFinding(FileFinding(path));
    const ScanResult& second = items.CreateResultFromFinding(FileFinding(folder / L"EVIL.EXE"));

    ASSERT_EQ(1u, items.TargetFiles().size());
    EXPECT_EQ(0, first.sourceValue);
    EXPECT_EQ(0, second.sourceValue);
    EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", Hex(first.fileSha1, 20));
    EXPECT_EQ(ItemType::File, first.itemType);
    EXPECT_EQ(L"FileGuard", first.handlerName);
    EXPECT_EQ(L"Trojan.X", first.threatName);
    EXPECT_EQ(2, first.count);
    EXPECT_EQ(1, first.excludedFromCleaning);
    EXPECT_EQ(0, first.cleanState);
}

TEST(ItemManager, SeverityDecidesWhichNamesAnItemTakes) {
    SKItemManager items;
    FindingRecord suspicious = FileFinding(L"C:\\nowhere\\a.exe", 2);
    FindingRecord unrated = FileFinding(L"C:\\nowhere\\b.exe", 1);
    const ScanResult& a = items.CreateResultFromFinding(suspicious);
    const ScanResult& b = items.CreateResultFromFinding(unrated);
    EXPECT_EQ(L"Suspicious", a.handlerName);
    EXPECT_EQ(L"Suspicious", a.threatName);
    EXPECT_EQ(L"Suspicious", a.threatClass);
    EXPECT_TRUE(b.handlerName.empty() && b.threatName.empty() && b.threatClass.empty());
    // An unreadable file leaves the digest zero.
    EXPECT_EQ(std::string(40, '0'), Hex(a.fileSha1, 20));
}

TEST(ItemManager, SourceValuesByType) {
    SKItemManager items;
    const int32_t policy = items.AddPolicy(L"NoAutorun");
    FindingRecord policyFinding(1, L"h");
    policyFinding.itemType = ItemType::Policy;
    policyFinding.name = L"NoAutorun";
    EXPECT_EQ(policy, items.CreateResultFromFinding(policyFinding).sourceValue);
    policyFinding.name = L"Unknown policy";
    EXPECT_EQ(-1, items.CreateResultFromFinding(policyFinding).sourceValue);
    FindingRecord process(1, L"h");
    process.itemType = ItemType::Process;
    process.name = L"evil.exe";
    EXPECT_EQ(-1, items.CreateResultFromFinding(process).sourceValue);
    EXPECT_TRUE(items.TargetFiles().empty());
}

TEST(SKFile, DigestsAreComputedOnceInOnePassAndKeptAfterwards) {
    testsupport::ScratchFolder folder(L"skfile");
    const std::wstring path = folder / L"data.bin";
    ASSERT_TRUE(testsupport::WriteFileBytes(path, "abc"));
    SKFile file(path);
    const unsigned char* sha1 = nullptr;
    const unsigned char* md5 = nullptr;
    EXPECT_EQ(0, file.PeekSha1(&sha1));
    EXPECT_EQ(1, file.ComputeDigests(&sha1, &md5));
    EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", Hex(sha1, 20));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(md5, 16));
    // Known now: the file may change or go without the answer changing.
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    EXPECT_EQ(0, file.ComputeDigests(&sha1, &md5));
    EXPECT_EQ(1, file.GetMd5(&md5));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(md5, 16));
}

TEST(SKFile, AGivenDigestIsTakenOnlyWhenNoneIsKnown) {
    SKFile file(L"C:\\does\\not\\exist.bin");
    const unsigned char* sha1 = nullptr;
    EXPECT_EQ(0, file.GetSha1(&sha1));
    unsigned char given[20];
    for (int i = 0; i < 20; ++i) given[i] = static_cast<unsigned char>(i);
    file.SetSha1(given);
    unsigned char other[20] = {};
    file.SetSha1(other);
    EXPECT_EQ(1, file.PeekSha1(&sha1));
    EXPECT_EQ(Hex(given, 20), Hex(sha1, 20));
    const unsigned char* md5 = nullptr;
    EXPECT_EQ(0, file.PeekMd5(&md5));
    EXPECT_EQ(0, file.GetMd5(&md5));  // the file cannot be read
}

TEST(SKFile, VersionPropertiesAreReadOnceAndAFileWithoutThemStaysEmpty) {
    testsupport::ScratchFolder folder(L"version");
    const std::wstring plain = folder / L"plain.txt";
    ASSERT_TRUE(testsupport::WriteFileBytes(plain, "no resources"));
    SKFile file(plain);
    EXPECT_TRUE(file.GetProductName().empty());
    EXPECT_TRUE(file.Version().scanned);
    EXPECT_TRUE(file.GetCompanyName().empty());

    wchar_t system[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
    SKFile kernel(std::wstring(system) + L"\\kernel32.dll");
    EXPECT_FALSE(kernel.GetProductName().empty());
    EXPECT_FALSE(kernel.GetFileDescription().empty());
    const std::wstring version = kernel.Version().numericFileVersion;
    EXPECT_EQ(3, std::count(version.begin(), version.end(), L'.')) << testsupport::Narrow(version);
}

TEST(SKFile, AMissingVersionResourceAndAFailedReadAreLoggedWithTheirFixedSuffixes) {
    testsupport::ScratchFolder folder(L"version");
    LogCapture log("items_test.log");
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
    SKFile unversioned(self);  // an image without a version resource
    EXPECT_TRUE(unversioned.GetProductName().empty());
    SKFile missing(folder / L"missing.dll");
    EXPECT_TRUE(missing.GetProductName().empty());
    EXPECT_EQ(1u, log.Count("versionInfo.Create() RESOURCE_DATA/TYPE_NOT_FOUND[SKItem(34)]"));
    EXPECT_EQ(1u, log.Count("versionInfo.Create() Error=2[SKItem(36)]"));
}

TEST(SKFile, AnUnsignedFileHasNoSignerAndIsCheckedOnce) {
    testsupport::ScratchFolder folder(L"signer");
    const std::wstring path = folder / L"unsigned.exe";
    ASSERT_TRUE(testsupport::WriteFileBytes(path, "MZ not really"));
    SKFile file(path);
    EXPECT_TRUE(file.GetSigner().empty());
    EXPECT_TRUE(file.GetSigner().empty());
}
