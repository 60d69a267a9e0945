// Copying the payload out of a program file and unpacking it, with the archives made by the build
// (payload_fixtures beside this program) and program files made here.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/log/Logger.h"
#include "platform/payload/PackageManager.h"
#include "platform/payload/PayloadCopier.h"
#include "platform/system/FileUtility.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

std::wstring LogPath() { return ThisProgramFolder() + L"\\qvcleantool.log"; }
std::wstring Fixture(const std::wstring& name) { return BinFolder() + L"\\payload_fixtures\\" + name; }
std::string FixtureBytes(const std::wstring& name) { return ReadFileBytes(Fixture(name)); }

// The program's linked image, before the build appends its payload.
std::string Image() { return ReadFileBytes(BinFolder() + L"\\..\\obj\\Tidewash.exe"); }

class PayloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileW(LogPath().c_str());
        level_.reset(new DebugLevelValue(0x2200007F));
        logger_.reset(new Logger);
        work_ = scratch_ / L"work";
        ASSERT_TRUE(CreateDirectoryW(work_.c_str(), nullptr));
    }
    void TearDown() override {
        logger_.reset();
        level_.reset();
    }

    std::string Log() const { return ReadFileBytes(LogPath()); }
    // An error line of the payload module carrying `text`.
    bool LoggedError(const std::string& text) const {
        for (const std::string& line : SplitLines(Log())) {
            if (line.find("[*] " + text) != std::string::npos && line.find("[PackageManager(") != std::string::npos)
                return true;
        }
        return false;
    }
    std::string ExtractError(int code) const {
        return "unzipSfxPayload Extract7z(" + Narrow(work_ + L"\\Real.7z", CP_ACP) + " \xA1\xF7 " +
               Narrow(work_, CP_ACP) + ") Error=" + std::to_string(code);
    }
    // A program carrying `archive`; Prepare() expects the stamp of that archive.
    std::wstring WriteSfx(const std::string& archive, const std::wstring& name = L"sfx.exe") {
        const std::wstring path = scratch_ / name;
        EXPECT_TRUE(WriteFileBytes(path, Image() + PayloadCopier::Marker() + archive));
        stamp_ = StampOf(archive);
        return path;
    }
    static PayloadStamp StampOf(const std::string& bytes) {
        return PayloadStamp::Of(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    bool Prepare(const std::wstring& sfx, const std::wstring& folder) {
        return PrepareComponentsFrom(sfx.c_str(), folder, stamp_);
    }

    ScratchFolder scratch_;
    std::wstring work_;
    PayloadStamp stamp_;
    std::unique_ptr<DebugLevelValue> level_;
    std::unique_ptr<Logger> logger_;
};

TEST_F(PayloadTest, DropsTheArchiveAndUnpacksItByteForByte) {
    const std::wstring sfx = WriteSfx(FixtureBytes(L"payload.7z"));
    ASSERT_TRUE(Prepare(sfx, work_));
    for (const wchar_t* name : {L"grimlet.dll", L"RunMendrel.exe", L"notes.txt", L"empty.bin"}) {
        SCOPED_TRACE(Narrow(name));
        const std::wstring unpacked = work_ + L"\\plugin\\" + name;
        ASSERT_TRUE(FileExists(unpacked));
        EXPECT_TRUE(ReadFileBytes(unpacked) == ReadFileBytes(Fixture(std::wstring(L"files\\plugin\\") + name)));
        // The stored attribute is the archive bit alone, not the POSIX mode 7-Zip keeps on Linux.
        EXPECT_EQ(GetFileAttributesW(unpacked.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    }
    EXPECT_FALSE(FileExists(work_ + L"\\Real.7z"));
    const std::string log = Log();
    EXPECT_NE(log.find("[I] Drop payload archive[PackageManager("), std::string::npos) << log;
    EXPECT_NE(log.find("[O] unzipSfxPayload[PackageManager("), std::string::npos) << log;
    EXPECT_EQ(log.find("[*] "), std::string::npos) << log;
}

// Only the archive the image was stamped with is unpacked: another one, a shortened one or an unstamped
// image unpack nothing. Bytes behind the stamped length (a signed release's certificate table) are
// never read.
TEST_F(PayloadTest, OnlyTheArchiveWithTheStampedDigestIsUnpacked) {
    const std::string archive = FixtureBytes(L"payload.7z");
    const PayloadStamp good = StampOf(archive);
    std::string other = archive;
    other[other.size() / 2] ^= 0x01;
    const PayloadStamp bad[] = {StampOf(other), StampOf(archive.substr(0, archive.size() - 1)), PayloadStamp()};
    const std::wstring sfx = WriteSfx(archive);
    for (const PayloadStamp& expected : bad) {
        EXPECT_FALSE(PrepareComponentsFrom(sfx.c_str(), work_, expected));
        EXPECT_FALSE(DirectoryExists(work_ + L"\\plugin"));
    }
    EXPECT_TRUE(LoggedError("The payload in " + Narrow(work_ + L"\\Real.7z", CP_ACP) +
                            " is not the one this program was built with"));
    EXPECT_TRUE(LoggedError("The program carries no payload digest"));
    PayloadStamp longer = good;
    longer.size += 1;
    EXPECT_FALSE(PrepareComponentsFrom(sfx.c_str(), work_, longer));

    const std::wstring signedSfx = WriteSfx(archive + std::string(1024, '\x5A'), L"signed.exe");
    ASSERT_TRUE(PrepareComponentsFrom(signedSfx.c_str(), work_, good)) << Log();
    EXPECT_TRUE(ReadFileBytes(work_ + L"\\plugin\\grimlet.dll") ==
                ReadFileBytes(Fixture(L"files\\plugin\\grimlet.dll")));
}

TEST_F(PayloadTest, ArchiveStartsRightAfterTheMarkerWhereverTheMarkerFalls) {
    const std::string archive = FixtureBytes(L"payload.7z");
    const std::string image = Image();
    // Around the first window boundary (the marker split across two reads) and right at the start.
    for (std::size_t length : {std::size_t{0}, std::size_t{4080}, std::size_t{4096}, image.size()}) {
        SCOPED_TRACE(length);
        std::string prefix = image.substr(0, length);
        ASSERT_TRUE(WriteFileBytes(scratch_ / L"split.exe", prefix + PayloadCopier::Marker() + archive));
        const std::wstring copy = work_ + L"\\Real.7z";
        ASSERT_TRUE(DropPayloadArchiveFrom((scratch_ / L"split.exe").c_str(), copy.c_str()));
        EXPECT_TRUE(ReadFileBytes(copy) == archive);
    }
}

TEST_F(PayloadTest, ProgramWithoutPayloadFailsAtTheLimitOrAtItsEnd) {
    const std::string image = Image();
    std::string large = image;
    while (large.size() <= 2 * 1024 * 1024 + 8192) large += image;
    ASSERT_TRUE(WriteFileBytes(scratch_ / L"large.exe", large));
    EXPECT_FALSE(Prepare(scratch_ / L"large.exe", work_));
    EXPECT_TRUE(LoggedError("Cannot find sfx signature"));

    ASSERT_TRUE(WriteFileBytes(scratch_ / L"small.exe", image));
    EXPECT_FALSE(Prepare(scratch_ / L"small.exe", work_));
    EXPECT_TRUE(LoggedError("Sfx file ends before the sfx signature"));
    EXPECT_FALSE(DirectoryExists(work_ + L"\\plugin"));
}

TEST_F(PayloadTest, UnopenableProgramOrArchiveIsReportedWithTheSystemError) {
    const std::wstring missing = scratch_ / L"missing.exe";
    EXPECT_FALSE(DropPayloadArchiveFrom(missing.c_str(), (work_ + L"\\Real.7z").c_str()));
    EXPECT_TRUE(LoggedError("Can't open sfx " + Narrow(missing, CP_ACP) + " (2)"));

    const std::wstring sfx = WriteSfx(FixtureBytes(L"payload.7z"));
    const std::wstring noFolder = scratch_ / L"none\\Real.7z";
    EXPECT_FALSE(DropPayloadArchiveFrom(sfx.c_str(), noFolder.c_str()));
    EXPECT_TRUE(LoggedError("can't create archive file " + Narrow(noFolder, CP_ACP) + " (3)"));

    EXPECT_FALSE(DropPayloadArchive(nullptr));
    EXPECT_EQ(Extract7z(missing.c_str(), work_.c_str()), PackageResult::kCannotOpenArchive);
}

TEST_F(PayloadTest, DamagedArchivesFailWithTheDecodersCodeAndStayInTheFolder) {
    // The decoder's codes: 1 data error, 3 CRC error, 6 unexpected end, 17 not an archive.
    const struct {
        const wchar_t* fixture;
        int code;
    } cases[] = {
        {L"truncated.7z", 6}, {L"flipped.7z", 3}, {L"flipped_lzma.7z", 1}, {L"garbage.7z", 17}, {L"empty.7z", 17},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.fixture));
        const std::string archive = FixtureBytes(c.fixture);
        const std::wstring sfx = WriteSfx(archive);
        EXPECT_FALSE(Prepare(sfx, work_));
        EXPECT_TRUE(LoggedError(ExtractError(c.code))) << Log();
        EXPECT_TRUE(ReadFileBytes(work_ + L"\\Real.7z") == archive);
    }
}

TEST_F(PayloadTest, DirectoryEntryAfterItsChildrenAndOlderFilesAreHarmless) {
    ASSERT_TRUE(CreateDirectoryW((work_ + L"\\plugin").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(work_ + L"\\plugin\\grimlet.dll", "an older plug-in, longer than the new one"));
    ASSERT_EQ(Extract7z(Fixture(L"children_first.7z").c_str(), work_.c_str()), 0);
    EXPECT_EQ(ReadFileBytes(work_ + L"\\plugin\\grimlet.dll"), "new plug-in");
    EXPECT_EQ(ReadFileBytes(work_ + L"\\plugin\\sub\\deep.txt"), "deep");
    // Parent folders also come from "\\" separators.
    ASSERT_EQ(Extract7z(Fixture(L"backslashes.7z").c_str(), work_.c_str()), 0);
    EXPECT_EQ(ReadFileBytes(work_ + L"\\plugin\\sub\\win.txt"), "made on Windows");
}

TEST_F(PayloadTest, UnwritableOutputStopsWithElevenAndKeepsTheArchive) {
    // A folder where the plug-in file should go.
    ASSERT_TRUE(CreateDirectoryW((work_ + L"\\plugin").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((work_ + L"\\plugin\\RunMendrel.exe").c_str(), nullptr));
    const std::wstring sfx = WriteSfx(FixtureBytes(L"payload.7z"));
    EXPECT_FALSE(Prepare(sfx, work_));
    EXPECT_TRUE(LoggedError(ExtractError(PackageResult::kCannotWriteFile)));
    EXPECT_TRUE(LoggedError("CreateFileW(" + Narrow(work_ + L"/plugin/RunMendrel.exe", CP_ACP) + ") Error=5"))
        << Log();
    EXPECT_TRUE(FileExists(work_ + L"\\Real.7z"));
}

TEST_F(PayloadTest, AnEmptyOrRootWorkFolderIsRefusedAndNothingLandsAtTheDriveRoot) {
    CurrentDirectoryGuard inWork(work_);
    ASSERT_TRUE(inWork.Switched());
    const std::wstring sfx = WriteSfx(FixtureBytes(L"payload.7z"));
    EXPECT_FALSE(Prepare(sfx, L""));
    EXPECT_FALSE(Prepare(sfx, work_.substr(0, 3)));
    EXPECT_EQ(PackageResult::kUnsafeFolder, Extract7z(Fixture(L"payload.7z").c_str(), L""));
    const std::wstring root = work_.substr(0, 3);
    EXPECT_FALSE(FileExists(root + L"Real.7z"));
    EXPECT_FALSE(DirectoryExists(root + L"plugin"));
    EXPECT_FALSE(DirectoryExists(work_ + L"\\plugin"));
}

TEST_F(PayloadTest, NamesLeavingTheFolderAreRefusedBeforeAnythingIsWritten) {
    for (const wchar_t* fixture : {L"escape_parent.7z", L"escape_nested.7z", L"escape_backslash.7z",
                                   L"escape_rooted.7z", L"escape_drive.7z", L"escape_device.7z"}) {
        SCOPED_TRACE(Narrow(fixture));
        const std::wstring sfx = WriteSfx(FixtureBytes(fixture));
        EXPECT_FALSE(Prepare(sfx, work_));
        EXPECT_TRUE(LoggedError(ExtractError(PackageResult::kUnsafeEntryName)));
        EXPECT_TRUE(LoggedError("Extract7z(" + Narrow(work_ + L"\\Real.7z", CP_ACP) + ") refused entry"));
        // Not even the harmless entries before the refused one.
        EXPECT_FALSE(DirectoryExists(work_ + L"\\plugin"));
        EXPECT_FALSE(FileExists(scratch_ / L"escape.txt"));
        EXPECT_FALSE(FileExists(L"C:\\escape.txt"));
        EXPECT_FALSE(FileExists(L"C:escape.txt"));
        EXPECT_TRUE(FileExists(work_ + L"\\Real.7z"));
    }
}

}  // namespace
