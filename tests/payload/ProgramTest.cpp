// The delivered program as a user starts it: it unpacks its payload into a fresh work folder, or shows
// its error box and ends with -1.
#include <gtest/gtest.h>

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

TEST(DeliveredProgram, IsTheLinkedImageFollowedByTheMarkerAndA7zArchive) {
    const std::string image = ReadFileBytes(ProductImage());
    const std::string program = ReadFileBytes(ProductExe());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.find(kMarker), std::string::npos) << "the image holds the marker in one piece";
    ASSERT_GT(program.size(), image.size() + kMarker.size());
    EXPECT_TRUE(program.compare(0, image.size(), image) == 0);
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
