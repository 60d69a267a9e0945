// The delivered program as a user starts it: it unpacks its payload into a fresh work folder, or shows
// its error box and ends with -1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kWorkFolder[] = L"GRIMLET专杀";
const wchar_t kCaption[] = L"GRIMLET专杀工具";
const wchar_t kFailureText[] = L"初始化组件失败";
const std::string kMarker = std::string("quorvel") + " tidewash clean tool";

std::wstring ProductExe() { return ProductFolder() + L"\\Tidewash.exe"; }
std::wstring ProductImage() { return ProductFolder() + L"\\..\\obj\\Tidewash.exe"; }

// The PE headers without the two fields that signing a release rewrites when it appends the certificate
// table: the checksum and the certificate table's directory entry.
std::string WithoutSignatureFields(std::string pe) {
    if (pe.size() < 0x40) return pe;
    uint32_t nt = 0;
    std::memcpy(&nt, &pe[0x3C], sizeof(nt));
    const std::size_t optional = std::size_t{nt} + 24;
    if (optional + 2 > pe.size()) return pe;
    const bool pe32plus = static_cast<unsigned char>(pe[optional + 1]) == 0x02;  // magic 0x20B
    const std::size_t checksum = optional + 64;
    const std::size_t security = optional + (pe32plus ? 112 : 96) + 4 * 8;
    if (security + 8 > pe.size()) return pe;
    std::fill_n(&pe[checksum], 4, '\0');
    std::fill_n(&pe[security], 8, '\0');
    return pe;
}

TEST(DeliveredProgram, IsTheLinkedImageFollowedByTheMarkerAndA7zArchive) {
    const std::string image = ReadFileBytes(ProductImage());
    const std::string program = ReadFileBytes(ProductExe());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.find(kMarker), std::string::npos) << "the image holds the marker in one piece";
    ASSERT_GT(program.size(), image.size() + kMarker.size());
    // A signed release also carries its signature behind the archive.
    EXPECT_TRUE(WithoutSignatureFields(program.substr(0, image.size())) == WithoutSignatureFields(image));
    EXPECT_EQ(program.find(kMarker), image.size());
    EXPECT_EQ(program.substr(image.size() + kMarker.size(), 6), std::string("7z\xBC\xAF\x27\x1C", 6));
    EXPECT_LT(image.size(), 2u * 1024 * 1024);
}

TEST(DeliveredProgram, UnpacksThePackedComponentsIntoAFreshWorkFolderAndRemovesTheArchive) {
    ScratchFolder scratch;
    MessageBoxAnswerer answerer(kCaption);
    MessageBoxAnswerer::Outcome outcome = answerer.Run(ProductExe(), scratch.Path(), true);
    EXPECT_FALSE(outcome.boxSeen) << Narrow(outcome.boxText);
    EXPECT_NE(outcome.exitCode, -1);

    const std::wstring plugin = scratch / kWorkFolder + L"\\plugin";
    ASSERT_TRUE(DirectoryExists(plugin));
    // Exactly the components this build packs, byte for byte.
    std::set<std::wstring> expected;
    for (const wchar_t* name : {L"grimlet.dll", L"RunMendrel.exe"}) {
        if (FileExists(ProductFolder() + L"\\" + name)) expected.insert(name);
    }
    EXPECT_EQ(FilesIn(plugin), expected);
    for (const std::wstring& name : expected) {
        EXPECT_TRUE(ReadFileBytes(plugin + L"\\" + name) == ReadFileBytes(ProductFolder() + L"\\" + name))
            << Narrow(name);
    }
    EXPECT_FALSE(FileExists(scratch / kWorkFolder + L"\\Real.7z"));
}

TEST(DeliveredProgram, ShowsTheErrorBoxAndEndsWithMinusOneWhenTheWorkFolderCannotBeMade) {
    ScratchFolder scratch;
    // A file of the work folder's name is in the way: the folder cannot be made, "Real.7z" not written.
    ASSERT_TRUE(WriteFileBytes(scratch / kWorkFolder, "in the way"));
    MessageBoxAnswerer answerer(kCaption);
    MessageBoxAnswerer::Outcome outcome = answerer.Run(ProductExe(), scratch.Path());
    EXPECT_TRUE(outcome.boxSeen);
    EXPECT_EQ(outcome.boxText, kFailureText);
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_EQ(ReadFileBytes(scratch / kWorkFolder), "in the way");
}

TEST(DeliveredProgram, WithoutItsPayloadShowsTheErrorBoxAndLogsWhy) {
    ScratchFolder scratch;
    const std::wstring bare = scratch / L"Tidewash.exe";
    ASSERT_TRUE(CopyFileW(ProductImage().c_str(), bare.c_str(), FALSE));
    DebugLevelValue level(0x2200007F);
    MessageBoxAnswerer answerer(kCaption);
    MessageBoxAnswerer::Outcome outcome = answerer.Run(bare, scratch.Path());
    EXPECT_TRUE(outcome.boxSeen);
    EXPECT_EQ(outcome.boxText, kFailureText);
    EXPECT_EQ(outcome.exitCode, -1);
    const std::string log = ReadFileBytes(scratch / L"qvcleantool.log");
    EXPECT_NE(log.find("[*] Sfx file ends before the sfx signature[PackageManager("), std::string::npos) << log;
}

}  // namespace
