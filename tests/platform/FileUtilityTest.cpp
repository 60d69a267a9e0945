#include <gtest/gtest.h>

#include "platform/system/DeviceProfile.h"
#include "platform/system/FileUtility.h"
#include "platform/system/FileVersionInfo.h"
#include "platform/system/OrdinalName.h"
#include "platform/system/Wow64.h"
#include "platform/win32/FindHandle.h"
#include "platform/win32/KernelHandle.h"
#include "platform/win32/RegistryKey.h"
#include "tests/support/TestDrives.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

TEST(GetFullPath, ResolvesAgainstTheCurrentDirectory) {
    ScratchFolder scratch;
    CurrentDirectoryGuard guard(scratch.Path());
    ASSERT_TRUE(guard.Switched());
    EXPECT_EQ(GetFullPath(L"GRIMLET专杀"), scratch / L"GRIMLET专杀");
    EXPECT_EQ(GetFullPath(L"a\\..\\b"), scratch / L"b");
    EXPECT_EQ(GetFullPath(L""), L"");
}

TEST(CurrentDirectoryGuard, RestoresOnlyAfterASuccessfulSwitch) {
    ScratchFolder scratch;
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    {
        CurrentDirectoryGuard guard(scratch.Path());
        wchar_t inside[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, inside);
        EXPECT_EQ(std::wstring(inside), scratch.Path());
    }
    wchar_t after[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_EQ(std::wstring(after), std::wstring(before));
    {
        CurrentDirectoryGuard failed(scratch / L"missing");
        EXPECT_FALSE(failed.Switched());
        SetCurrentDirectoryW(scratch.Path().c_str());  // moved by somebody else: a failed guard leaves it
    }
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_EQ(std::wstring(after), scratch.Path());
    SetCurrentDirectoryW(before);
}

TEST(CreateDirectoryRecursive, CreatesEveryLevelAndSplitsAtBothSeparators) {
    ScratchFolder scratch;
    std::wstring deep = scratch.Path() + L"\\A/B\\C";
    EXPECT_TRUE(CreateDirectoryRecursive(deep, false));
    EXPECT_TRUE(DirectoryExists(scratch / L"A\\B\\C"));
    // Existing levels are fine on a second run.
    EXPECT_TRUE(CreateDirectoryRecursive(deep, false));
}

TEST(CreateDirectoryRecursive, LeadingBackslashFailsOnTheEmptyPrefixUnlessContinuing) {
    // "\..." first tries the empty prefix, which cannot be created.
    EXPECT_FALSE(CreateDirectoryRecursive(L"\\tw-never-created-here\\x", false));
    ScratchFolder scratch;
    CurrentDirectoryGuard onTheSameDrive(scratch.Path());
    std::wstring noDrive = scratch.Path().substr(2);  // "\users\...\tw-..."
    EXPECT_TRUE(CreateDirectoryRecursive(noDrive + L"\\made", true));
    EXPECT_TRUE(DirectoryExists(scratch / L"made"));
}

TEST(CreateDirectoryRecursive, AFileInTheWayFailsAtThatLevel) {
    ScratchFolder scratch;
    ASSERT_TRUE(WriteFileBytes(scratch / L"file", "x"));
    EXPECT_FALSE(CreateDirectoryRecursive(scratch / L"file\\sub", false));
    EXPECT_TRUE(CreateDirectoryRecursive(scratch / L"file\\sub", true));  // logged and skipped
}

TEST(RemoveDirectoryRecursive, RemovesNestedTreesWithReadOnlyEntries) {
    ScratchFolder scratch;
    std::wstring root = scratch / L"tree";
    ASSERT_TRUE(CreateDirectoryRecursive(root + L"\\a\\b", false));
    ASSERT_TRUE(WriteFileBytes(root + L"\\top.txt", "1"));
    ASSERT_TRUE(WriteFileBytes(root + L"\\a\\b\\deep.txt", "2"));
    SetFileAttributesW((root + L"\\top.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((root + L"\\a\\b\\deep.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW((root + L"\\a").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(RemoveDirectoryRecursiveW(root));
    EXPECT_FALSE(DirectoryExists(root));
}

TEST(RemoveDirectoryRecursive, MissingFolderFailsAndChangesNothing) {
    ScratchFolder scratch;
    EXPECT_FALSE(RemoveDirectoryRecursiveW(scratch / L"missing"));
    EXPECT_TRUE(DirectoryExists(scratch.Path()));
}

TEST(RemoveDirectoryRecursive, AnEmptyPathOrADriveRootIsRefusedAndNothingThereIsDeleted) {
    ScratchFolder scratch;
    CurrentDirectoryGuard inScratch(scratch.Path());
    ASSERT_TRUE(inScratch.Switched());
    // An empty path used to be read as "\\*": the walk began at the root of the current drive.
    const std::wstring marker = L"\\tw_root_marker_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    ASSERT_TRUE(WriteFileBytes(marker, "keep"));
    for (const std::wstring& path : {std::wstring(), std::wstring(L"\\"), scratch.Path().substr(0, 3),
                                     scratch / L"..\\..\\..\\..\\..\\..\\..\\..\\..\\.."}) {
        EXPECT_TRUE(IsEmptyOrVolumeRoot(path)) << Narrow(path);
        EXPECT_FALSE(RemoveDirectoryRecursiveW(path)) << Narrow(path);
    }
    EXPECT_TRUE(FileExists(marker));
    DeleteFileW(marker.c_str());

    EXPECT_TRUE(IsEmptyOrVolumeRoot(L"\\\\server\\share\\"));
    EXPECT_FALSE(IsEmptyOrVolumeRoot(L"\\\\server\\share\\work"));
    EXPECT_FALSE(IsEmptyOrVolumeRoot(scratch.Path()));
}

TEST(RemoveDirectoryRecursive, StopsAtTheFirstFailureAndKeepsTheRest) {
    ScratchFolder scratch;
    std::wstring root = scratch / L"tree";
    ASSERT_TRUE(CreateDirectoryRecursive(root, false));
    ASSERT_TRUE(WriteFileBytes(root + L"\\locked.txt", "x"));
    HANDLE held = CreateFileW((root + L"\\locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(RemoveDirectoryRecursiveW(root));
    EXPECT_TRUE(DirectoryExists(root));
    CloseHandle(held);
    EXPECT_TRUE(RemoveDirectoryRecursiveW(root));
}

TEST(RemoveDirectoryRecursive, LinksAreRemovedWithoutEnteringThem) {
    // A junction or directory link is removed as a link; its target's content stays.
    EXPECT_EQ(ClassifyForRemoval(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), RemoveAction::RemoveLinkOnly);
    EXPECT_EQ(ClassifyForRemoval(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY),
              RemoveAction::RemoveLinkOnly);
    EXPECT_EQ(ClassifyForRemoval(FILE_ATTRIBUTE_DIRECTORY), RemoveAction::RemoveTree);
    EXPECT_EQ(ClassifyForRemoval(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT), RemoveAction::DeleteFile);
    EXPECT_EQ(ClassifyForRemoval(FILE_ATTRIBUTE_NORMAL), RemoveAction::DeleteFile);
}

TEST(IsWow64, MatchesTheTier) {
    // The test prefix is a 64-bit one: the i686 build runs under WOW64.
    EXPECT_EQ(IsWow64(), IsI686Tier());
    EXPECT_EQ(IsWow64(), IsWow64());
}

TEST(OrdinalName, FoldsWithTheFileSystemTableOneUnitForOne) {
    EXPECT_EQ(L"C:\\\u00C4RGER.EXE", UpperCaseOrdinal(L"c:\\\u00E4rger.exe"));
    EXPECT_EQ(L"svchost.exe -k netsvcs \u00E4", LowerCaseOrdinal(L"SvcHost.EXE -K NetSvcs \u00C4"));
    EXPECT_EQ(1u, LowerCaseOrdinal(L"\u0130").size()) << "one code unit in, one out";
    EXPECT_TRUE(EqualIgnoringCase(L"SYSTEM\\CurrentControlSet\\Services", L"system\\currentcontrolset\\SERVICES"));
    EXPECT_FALSE(EqualIgnoringCase(L"a\u00ADb", L"ab")) << "a zero-weight character still counts";
    EXPECT_FALSE(EqualIgnoringCase(L"a\u00ADb", L"ab\u00AD"));
}

// The owners of Win32 objects: released once, handed on by a move or Detach, and Attach releases what
// was held before.
TEST(OwnedHandle, ReleasesOnceAndHandsOwnershipOn) {
    auto isOpen = [](HANDLE handle) {
        DWORD flags = 0;
        return GetHandleInformation(handle, &flags) != FALSE;
    };
    KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.IsValid());
    const HANDLE first = event.Get();
    KernelHandle moved(std::move(event));
    EXPECT_FALSE(event.IsValid());
    EXPECT_EQ(first, moved.Get());

    moved.Attach(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(isOpen(first)) << "Attach releases what it held";
    const HANDLE second = moved.Detach();
    EXPECT_FALSE(moved.IsValid());
    EXPECT_TRUE(moved.Close()) << "nothing held is success";
    EXPECT_TRUE(isOpen(second)) << "Detach gives up without closing";
    {
        KernelHandle owner;
        owner.Attach(second);
        KernelHandle other(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        const HANDLE third = other.Get();
        other = std::move(owner);
        EXPECT_FALSE(isOpen(third)) << "a move into an owner releases what it held";
        EXPECT_EQ(second, other.Get());
    }
    EXPECT_FALSE(isOpen(second));

    RegistryKey key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quorvel\\No Such Key", KEY_READ));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_READ));
    EXPECT_TRUE(key.IsOpen());
    WIN32_FIND_DATAW entry;
    FindHandle none(FindFirstFileW((ThisProgramFolder() + L"\\no such file *").c_str(), &entry));
    EXPECT_FALSE(none.IsValid());
    EXPECT_TRUE(none.Close());
}

TEST(DeviceProfile, DecisionByDriveType) {
    int asked = 0;
    auto yes = [&] { ++asked; return true; };
    auto no = [&] { ++asked; return false; };
    EXPECT_FALSE(SKDeviceProfile::DecideWritable(DRIVE_CDROM, yes));
    EXPECT_TRUE(SKDeviceProfile::DecideWritable(DRIVE_FIXED, no));
    EXPECT_TRUE(SKDeviceProfile::DecideWritable(DRIVE_REMOTE, no));
    EXPECT_TRUE(SKDeviceProfile::DecideWritable(DRIVE_RAMDISK, no));
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(SKDeviceProfile::DecideWritable(DRIVE_REMOVABLE, yes));
    EXPECT_FALSE(SKDeviceProfile::DecideWritable(DRIVE_REMOVABLE, no));
    // Only "write-protected" makes a stick read-only; a device that cannot be asked is tried.
    EXPECT_TRUE(SKDeviceProfile::AnswerMeansWritable(true, ERROR_SUCCESS));
    EXPECT_FALSE(SKDeviceProfile::AnswerMeansWritable(false, ERROR_WRITE_PROTECT));
    EXPECT_TRUE(SKDeviceProfile::AnswerMeansWritable(false, ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(SKDeviceProfile::AnswerMeansWritable(false, ERROR_INVALID_FUNCTION));
    EXPECT_EQ(asked, 2);
}

TEST(DeviceProfile, FixedDriveIsWritableAndCached) {
    EXPECT_TRUE(IsDriveWritable(L"C:"));
    EXPECT_TRUE(IsDriveWritable(L"C:"));
    SKDeviceProfile c(L"C:");
    EXPECT_EQ(c.DriveType(), static_cast<UINT>(DRIVE_FIXED));
}

// The prefix's test drives have the types the worm's copies are looked for on. Wine cannot answer the
// removable drive's write check (see TestDrives.h), and a device that cannot be asked counts as
// writable.
TEST(DeviceProfile, TheTestDrivesAreRemovableAndRemote) {
    if (!RunningOnWine()) GTEST_SKIP() << "the test drives are the Wine prefix's";
    EXPECT_EQ(static_cast<UINT>(DRIVE_REMOVABLE), GetDriveTypeW(TestDriveRoot(kRemovableTestDrive).c_str()));
    EXPECT_EQ(static_cast<UINT>(DRIVE_REMOTE), GetDriveTypeW(TestDriveRoot(kNetworkTestDrive).c_str()));
    EXPECT_TRUE(IsDriveWritable(L"E:"));
    EXPECT_TRUE(IsDriveWritable(L"N:"));
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumeInformationW(L"E:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(0x45000000u, serial) << "a .windows-serial was left on the drive";
}

TEST(FileVersionInfo, TranslationPickFollowsTheLanguageRules) {
    const uint16_t chinese = 0x0804, chineseTaiwan = 0x0404, usEnglish = 0x0409, ukEnglish = 0x0809, german = 0x0407;
    auto entry = [](uint16_t language, uint16_t codePage) { return static_cast<uint32_t>(language) | (codePage << 16); };
    std::vector<uint32_t> list = {entry(german, 1252), entry(ukEnglish, 1200), entry(chineseTaiwan, 950), entry(chinese, 936)};
    EXPECT_EQ(CFileVersionInfo::PickTranslation(list, chinese), 3);              // exact language
    EXPECT_EQ(CFileVersionInfo::PickTranslation({list[0], list[1], list[2]}, chinese), 2);  // same primary language
    EXPECT_EQ(CFileVersionInfo::PickTranslation({list[0], list[1]}, chinese), 1);  // any English
    EXPECT_EQ(CFileVersionInfo::PickTranslation({list[0], entry(0, 1200), list[1]}, chinese), 1);  // neutral first
    EXPECT_EQ(CFileVersionInfo::PickTranslation({list[0]}, usEnglish), 0);       // first entry
    EXPECT_EQ(CFileVersionInfo::PickTranslation({}, usEnglish), -1);
}

TEST(FileVersionInfo, ReadsASystemFileAndFailsCleanlyWithoutResource) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    CFileVersionInfo info;
    ASSERT_TRUE(info.Create(std::wstring(system) + L"\\kernel32.dll"));
    EXPECT_EQ(info.fixedInfo.dwSignature, 0xFEEF04BDu);
    EXPECT_FALSE(info.FileVersion.empty());
    ScratchFolder scratch;
    ASSERT_TRUE(WriteFileBytes(scratch / L"plain.txt", "no resource"));
    EXPECT_FALSE(info.Create(scratch / L"plain.txt"));
    EXPECT_TRUE(info.FileVersion.empty());
    EXPECT_EQ(info.fixedInfo.dwSignature, 0u);
}

}  // namespace
