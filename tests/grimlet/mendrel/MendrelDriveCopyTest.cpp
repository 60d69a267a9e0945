// The engine's removal of the worm's copy on a removable or network drive with its autorun.inf
// (-COPY= -AUTORUN= -SHA1=), and its restore: RunMendrel.exe itself on the prefix's test drives, and the
// engine in-process where Wine cannot play the drive (its write check, a changed volume): see
// tests/support/TestDrives.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "grimlet/mendrel/DriveCopyRemoval.h"
#include "grimlet/mendrel/MendrelCommandLine.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/mendrel/QuarantineCommands.h"
#include "grimlet/mendrel/QuarantineStore.h"
#include "platform/hash/FileDigest.h"
#include "tests/support/TestDrives.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool Writable(const std::wstring&) { return true; }
bool WriteProtected(const std::wstring&) { return false; }
bool AnotherVolume(HANDLE, DWORD& serial) {
    serial = 0x0BADF00D;
    return true;
}

std::string Sha1Of(const std::string& bytes) {
    FileDigest hash(false, true);
    hash.Update(bytes.data(), bytes.size());
    return hash.FinishSha1Hex();
}

// The worm's traces on one drive: its copy in a hidden folder and the autorun.inf that starts it.
struct Planted {
    std::wstring copy, autorun;
    std::string copyBytes, infBytes;
    DWORD copyAttributes = 0, infAttributes = 0;

    bool Unchanged() const {
        return ReadFileBytes(copy) == copyBytes && ReadFileBytes(autorun) == infBytes &&
               GetFileAttributesW(copy.c_str()) == copyAttributes && GetFileAttributesW(autorun.c_str()) == infAttributes;
    }
    bool Gone() const { return !FileExists(copy) && !FileExists(autorun); }
    std::wstring Arguments(const std::string& sha1) const {
        return L"-assign=WORM_GRIMLET. -COPY=\"" + copy + L"\" -AUTORUN=\"" + autorun + L"\" -SHA1=" + Widen(sha1);
    }
};

Planted Plant(wchar_t letter, const std::string& tag,
              const std::string& command = "rundll32.exe RECYCLER\\w32.dll,Start") {
    Planted planted;
    const std::wstring root = TestDriveRoot(letter);
    CreateDirectoryW((root + L"RECYCLER").c_str(), nullptr);
    planted.copy = root + L"RECYCLER\\w32.dll";
    planted.autorun = root + L"autorun.inf";
    planted.copyBytes = "MZ worm copy " + tag;
    SetFileAttributesW(planted.copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(planted.autorun.c_str(), FILE_ATTRIBUTE_NORMAL);
    planted.infBytes = "; junk\r\n[autorun]\r\nicon=x.ico\r\nshell\\open\\command=" + command + "\r\n";
    EXPECT_TRUE(WriteFileBytes(planted.copy, planted.copyBytes));
    EXPECT_TRUE(WriteFileBytes(planted.autorun, planted.infBytes));
    SetFileAttributesW(planted.copy.c_str(), kHiddenSystem);
    SetFileAttributesW(planted.autorun.c_str(), kHiddenSystem);
    planted.copyAttributes = GetFileAttributesW(planted.copy.c_str());
    planted.infAttributes = GetFileAttributesW(planted.autorun.c_str());
    EXPECT_EQ(kHiddenSystem, planted.copyAttributes & kHiddenSystem);
    return planted;
}

// The newest drive-copy entry of `copy` in `store`.
bool NewestEntry(QuarantineStore& store, const std::wstring& copy, QuarantineEntry& found) {
    std::vector<QuarantineEntry> entries;
    if (!store.Prepare() || !store.ReadEntries(entries)) return false;
    bool any = false;
    for (const QuarantineEntry& entry : entries)
        if (entry.kind == kQuarantineKindDriveCopy && entry.originalPath == copy) {
            found = entry;
            any = true;
        }
    return any;
}

class MendrelDriveCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!RunningOnWine()) GTEST_SKIP() << "the test drives are the Wine prefix's";
        ASSERT_TRUE(removable_.Emptied() && network_.Emptied());
        CreateDirectoryW((scratch_ / L"plugin").c_str(), nullptr);
        ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\RunMendrel.exe").c_str(), exe_.c_str(), FALSE));
    }
    int Engine(const std::wstring& arguments, std::string* output = nullptr) {
        return RunProgram(exe_, arguments, scratch_.Path(), 60000, output);
    }
    ScratchFolder scratch_{L"drivecopy"};
    EmptiedTestDrive removable_{kRemovableTestDrive};
    EmptiedTestDrive network_{kNetworkTestDrive};
    std::wstring exe_ = scratch_ / L"plugin\\RunMendrel.exe";
    QuarantineStore store_{scratch_ / L"quarantine"};
    QuarantineStore machine_{MachineQuarantineFolder()};
};

TEST(MendrelDriveCopyCommandLineTest, AcceptsTheCopyLineAndRefusesItsBadForms) {
    const std::wstring sha1(40, L'a');
    MendrelCommandLine line;
    std::wstring problem;
    ASSERT_TRUE(line.Parse((L"\"C:\\w\\plugin\\RunMendrel\" -assign=WORM_GRIMLET. -copy=\"e:\\RECYCLER\\my w32.dll\" "
                            L"-AUTORUN=\"E:\\AUTORUN.INF\" -sha1=" + sha1).c_str(),
                           problem))
        << Narrow(problem);
    EXPECT_EQ(MendrelCommandLine::Command::DriveCopy, line.command);
    EXPECT_EQ(L"e:\\RECYCLER\\my w32.dll", line.copyPath);
    EXPECT_EQ(L"E:\\AUTORUN.INF", line.autorunPath);
    EXPECT_EQ(std::string(40, 'A'), line.sha1);

    const std::wstring good = L" -AUTORUN=\"E:\\autorun.inf\" -SHA1=" + sha1;
    const std::wstring refused[] = {
        L"x -assign=WORM_GRIMLET. -COPY=\"w32.dll\"" + good,
        L"x -assign=WORM_GRIMLET. -COPY=\"E:w32.dll\"" + good,
        L"x -assign=WORM_GRIMLET. -COPY=\"\\\\server\\share\\w32.dll\"" + good,
        L"x -assign=WORM_GRIMLET. -COPY=\"E:\\a\\..\\w32.dll\"" + good,
        L"x -assign=WORM_GRIMLET. -COPY=\"E:/w32.dll\"" + good,
        L"x -assign=WORM_GRIMLET. -COPY=\"E:\\w32.dll:s\"" + good,
        L"x -assign=WORM_GRIMLET. -COPY=\"F:\\w32.dll\"" + good,
        L"x -assign=WORM_GRIMLET. -COPY=\"E:\\autorun.inf\"" + good,
        L"x -assign=WORM_GRIMLET. -COPY=\"E:\\w32.dll\" -AUTORUN=\"E:\\sub\\autorun.inf\" -SHA1=" + sha1,
        L"x -assign=WORM_GRIMLET. -COPY=\"E:\\w32.dll\" -AUTORUN=\"E:\\autorun.inf\" -SHA1=" + sha1.substr(1),
        L"x -assign=WORM_GRIMLET. -COPY=\"E:\\w32.dll\" -AUTORUN=\"E:\\autorun.inf\" -SHA1=" + sha1.substr(1) + L"g",
        L"x -assign=WORM_GRIMLET. -COPY=\"E:\\w32.dll\" -AUTORUN=\"E:\\autorun.inf\"",
        L"x -COPY=\"E:\\w32.dll\"" + good,
        L"x -assign=WORM_GRIMLET. -COPY=\"E:\\w32.dll\" -COPY=\"E:\\x.dll\"" + good,
        L"x -assign=WORM_GRIMLET. -GC -COPY=\"E:\\w32.dll\"" + good,
    };
    for (const std::wstring& text : refused) {
        problem.clear();
        EXPECT_FALSE(MendrelCommandLine().Parse(text.c_str(), problem)) << Narrow(text);
        EXPECT_FALSE(problem.empty());
    }
}

// RunMendrel.exe removes both files from the network drive into one entry, lists it and puts both back
// with their attributes, and the same on the removable drive.
TEST_F(MendrelDriveCopyTest, BothFilesGoIntoOneEntryAndComeBackOnBothDrives) {
    Planted share = Plant(kNetworkTestDrive, "share");
    const std::string sha1 = Sha1Of(share.copyBytes);
    ASSERT_EQ(MendrelExitCode::Removed, Engine(share.Arguments(sha1)));
    EXPECT_TRUE(share.Gone());
    QuarantineEntry entry;
    ASSERT_TRUE(NewestEntry(machine_, share.copy, entry));
    EXPECT_EQ(L"quarantined", entry.state);
    EXPECT_NE(sha1, entry.sha1) << "the id is the entry's own, not the DLL's";
    std::string listing;
    ASSERT_EQ(MendrelExitCode::Listed, Engine(L"-list", &listing));
    EXPECT_NE(std::string::npos, listing.find(entry.sha1 + "\t" + Narrow(share.copy) + "\t-\t")) << listing;
    ASSERT_EQ(MendrelExitCode::Restored, Engine(L"-restore=" + Widen(entry.sha1)));
    EXPECT_TRUE(share.Unchanged());
    EXPECT_EQ(MendrelExitCode::NotQuarantined, Engine(L"-restore=" + Widen(entry.sha1)));

    // Wine cannot answer the stick's write check; a device that cannot be asked is tried, so the
    // program removes and restores there the same way.
    Planted stick = Plant(kRemovableTestDrive, "stick");
    ASSERT_EQ(MendrelExitCode::Removed, Engine(stick.Arguments(Sha1Of(stick.copyBytes))));
    EXPECT_TRUE(stick.Gone());
    ASSERT_TRUE(NewestEntry(machine_, stick.copy, entry));
    EXPECT_EQ(Sha1Of(ReadFileBytes(machine_.Folder() + L"\\" + entry.keysName)), entry.sha1);
    EXPECT_EQ(stick.infBytes, ReadFileBytes(machine_.Folder() + L"\\" + Widen(Sha1Of(stick.infBytes)) + L".bin"));
    ASSERT_EQ(MendrelExitCode::Restored, Engine(L"-restore=" + Widen(entry.sha1)));
    EXPECT_TRUE(stick.Unchanged());
}

// Anything that is not what the scan proved any more, and a drive that takes no change, leave both
// files as they are and record nothing.
TEST_F(MendrelDriveCopyTest, NothingChangesUnlessItIsStillWhatTheScanProvedOnAWritableDrive) {
    Planted share = Plant(kNetworkTestDrive, "share");
    EXPECT_EQ(MendrelExitCode::NoLongerProven, Engine(share.Arguments(Sha1Of("the bytes the scan saw"))));
    EXPECT_TRUE(share.Unchanged());
    Planted other = Plant(kNetworkTestDrive, "other", "rundll32.exe RECYCLER\\other.dll,Start");
    EXPECT_EQ(MendrelExitCode::NoLongerProven, Engine(other.Arguments(Sha1Of(other.copyBytes))));
    EXPECT_TRUE(other.Unchanged());
    Planted setup = Plant(kNetworkTestDrive, "setup", "setup.exe RECYCLER\\w32.dll");
    EXPECT_EQ(MendrelExitCode::NoLongerProven, Engine(setup.Arguments(Sha1Of(setup.copyBytes))));
    EXPECT_TRUE(setup.Unchanged());

    Planted stick = Plant(kRemovableTestDrive, "stick");
    const std::string sha1 = Sha1Of(stick.copyBytes);
    EXPECT_EQ(MendrelExitCode::ReadOnlyMedium,
              DriveCopyRemoval(store_, DriveChecks{&WriteProtected, DriveChecks::System().volumeSerial})
                  .Remove(stick.copy, stick.autorun, sha1));
    EXPECT_TRUE(stick.Unchanged());
    // A quarantine that cannot take them.
    WriteFileBytes(scratch_ / L"blocked", "a file where the folder would be");
    QuarantineStore blocked(scratch_ / L"blocked");
    EXPECT_EQ(MendrelExitCode::QuarantineFailed,
              DriveCopyRemoval(blocked, DriveChecks{&Writable, DriveChecks::System().volumeSerial})
                  .Remove(stick.copy, stick.autorun, sha1));
    EXPECT_TRUE(stick.Unchanged());
    DriveCopyRemoval engine(store_, DriveChecks{&Writable, DriveChecks::System().volumeSerial});
    // The copy's name a folder, or a file on a fixed drive: neither is a worm copy on a stick.
    const std::wstring folder = TestDriveRoot(kRemovableTestDrive) + L"folder.dll";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(MendrelExitCode::NoLongerProven, engine.Remove(folder, stick.autorun, sha1));
    const std::wstring fixed = scratch_ / L"w32.dll";
    WriteFileBytes(fixed, stick.copyBytes);
    EXPECT_EQ(MendrelExitCode::NoLongerProven, engine.Remove(fixed, fixed.substr(0, 2) + L"\\autorun.inf", sha1));
    EXPECT_TRUE(FileExists(fixed));
    EXPECT_TRUE(stick.Unchanged());
    QuarantineEntry entry;
    EXPECT_FALSE(NewestEntry(store_, stick.copy, entry));
}

// The letter may name another stick by the time of a restore, and somebody may have put a file where one
// of the two was: both are refused (9), and the entry is restored once neither holds.
TEST_F(MendrelDriveCopyTest, ARestoreNeedsTheSameVolumeAndBothPathsFree) {
    Planted share = Plant(kNetworkTestDrive, "restore");
    ASSERT_EQ(MendrelExitCode::Removed, Engine(share.Arguments(Sha1Of(share.copyBytes))));
    QuarantineEntry entry;
    ASSERT_TRUE(NewestEntry(machine_, share.copy, entry));
    EXPECT_EQ(MendrelExitCode::RestoreRefused,
              DriveCopyRemoval(machine_, DriveChecks{&Writable, &AnotherVolume}).Restore(entry));
    EXPECT_TRUE(share.Gone());
    WriteFileBytes(share.autorun, "[autorun]\r\nlabel=mine\r\n");
    EXPECT_EQ(MendrelExitCode::RestoreRefused, Engine(L"-restore=" + Widen(entry.sha1)));
    EXPECT_FALSE(FileExists(share.copy));
    EXPECT_EQ("[autorun]\r\nlabel=mine\r\n", ReadFileBytes(share.autorun));
    DeleteFileW(share.autorun.c_str());
    // A descriptor that is not what the id says is not followed.
    const std::wstring descriptor = machine_.Folder() + L"\\" + entry.keysName;
    const std::string saved = ReadFileBytes(descriptor);
    WriteFileBytes(descriptor, saved + "\r\n");
    EXPECT_EQ(MendrelExitCode::QuarantineUnreadable, Engine(L"-restore=" + Widen(entry.sha1)));
    WriteFileBytes(descriptor, saved);
    EXPECT_EQ(MendrelExitCode::Restored, Engine(L"-restore=" + Widen(entry.sha1)));
    EXPECT_TRUE(share.Unchanged());
}

}  // namespace
