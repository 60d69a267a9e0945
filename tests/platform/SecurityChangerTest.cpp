#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/security/ProtectedDataFolder.h"
#include "platform/security/SKFileSecurityChanger.h"
#include "platform/security/SKObjectDACL.h"
#include "platform/security/SKObjectSID.h"
#include "platform/security/SKObjectSecurityDescriptor.h"
#include "platform/win32/KernelHandle.h"
#include "tests/platform/AccessModeSwap.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

// What Wine 8 does with file DACLs (seen on this machine): it keeps no descriptor of its own but maps a
// written DACL onto the Unix mode bits and builds the DACL it reports from them (SYSTEM, the owner and
// Everyone). SetFileSecurityW therefore succeeds but reads back in that normalised form, and no DACL
// ever refuses access, since Wine leaves access checks on files and folders to the Unix permissions.
// The tests below compare what can be compared under both systems: descriptors as SDDL before a change
// and after its restore.

namespace {

std::wstring ToSddl(PSECURITY_DESCRIPTOR descriptor) {
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr))
        return L"(none)";
    std::wstring result(text);
    LocalFree(text);
    return result;
}

std::wstring DaclSddl(const std::wstring& path) {
    SKObjectSecurityDescriptor descriptor(path);
    return descriptor.IsValid() ? ToSddl(descriptor.Get()) : L"(unreadable)";
}

bool SetDaclFromSddl(const std::wstring& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return false;
    BOOL ok = SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return ok != FALSE;
}

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"";
    std::wstring result(text);
    LocalFree(text);
    return result;
}

TEST(SKObjectSID, WorldAuthorityGivesEveryone) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SKObjectSID everyone(world);
    ASSERT_TRUE(everyone.IsValid());
    EXPECT_EQ(SidText(everyone.Get()), L"S-1-1-0");
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SKObjectSID ntZero(nt);
    EXPECT_EQ(SidText(ntZero.Get()), L"S-1-5-0");
}

TEST(SKObjectDACL, HoldsExactlyTheEntriesItHasRoomFor) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SKObjectSID everyone(world);
    const DWORD exact = GetLengthSid(everyone.Get()) + 16;
    SKObjectDACL dacl(exact);
    ASSERT_TRUE(dacl.IsValid());
    ASSERT_TRUE(dacl.AddAccessAllowed(everyone.Get()));
    EXPECT_FALSE(dacl.AddAccessAllowed(everyone.Get()));  // no room for a second entry

    ACL_SIZE_INFORMATION size = {};
    ASSERT_TRUE(GetAclInformation(dacl.Get(), &size, sizeof size, AclSizeInformation));
    EXPECT_EQ(size.AceCount, 1u);
    EXPECT_EQ(size.AclBytesFree, 0u);
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl.Get(), 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
    EXPECT_TRUE(EqualSid(&ace->SidStart, everyone.Get()));

    SKObjectDACL tooShort(4);
    EXPECT_FALSE(tooShort.IsValid());
    EXPECT_FALSE(tooShort.AddAccessAllowed(everyone.Get()));
}

TEST(SKObjectSecurityDescriptor, EmptyDescriptorTakesADacl) {
    SKObjectSecurityDescriptor empty;
    ASSERT_TRUE(empty.IsValid());
    EXPECT_TRUE(IsValidSecurityDescriptor(empty.Get()));
    EXPECT_EQ(empty.GetDacl(), nullptr);
    EXPECT_FALSE(empty.DaclPresent());

    SKObjectDACL dacl(64);
    ASSERT_TRUE(SetSecurityDescriptorDacl(empty.Get(), TRUE, dacl.Get(), FALSE));
    EXPECT_EQ(empty.GetDacl(), dacl.Get());
    EXPECT_TRUE(empty.DaclPresent());
    EXPECT_FALSE(empty.DaclDefaulted());
}

TEST(SKObjectSecurityDescriptor, ReadsTheDaclOfAPathOrStaysInvalid) {
    ScratchFolder scratch(L"sec");
    SKObjectSecurityDescriptor folder(scratch.Path());
    ASSERT_TRUE(folder.IsValid());
    EXPECT_NE(folder.GetDacl(), nullptr);
    EXPECT_TRUE(folder.DaclPresent());

    SKObjectSecurityDescriptor missing(scratch / L"missing");
    EXPECT_FALSE(missing.IsValid());
    EXPECT_EQ(missing.Get(), nullptr);
    EXPECT_EQ(missing.GetDacl(), nullptr);
}

TEST(SKFileSecurityChanger, GrantOpensToEveryoneAndDestructionRestores) {
    ScratchFolder scratch(L"sec");
    for (const wchar_t* name : {L"folder", L"file.txt"}) {
        SCOPED_TRACE(testsupport::Narrow(name));
        std::wstring path = scratch / name;
        const bool isFolder = std::wstring(name) == L"folder";
        ASSERT_TRUE(isFolder ? CreateDirectoryW(path.c_str(), nullptr) != FALSE : WriteFileBytes(path, "x"));
        // A restrictive DACL to start from: only SYSTEM may do anything.
        ASSERT_TRUE(SetDaclFromSddl(path, L"D:P(A;;FA;;;SY)"));
        const std::wstring before = DaclSddl(path);
        {
            SKFileSecurityChanger changer(path);
            EXPECT_FALSE(changer.Changed());
            ASSERT_TRUE(changer.Grant());
            EXPECT_TRUE(changer.Changed());

            SKObjectSecurityDescriptor now(path);
            ASSERT_TRUE(now.IsValid());
            PACL dacl = now.GetDacl();
            ASSERT_NE(dacl, nullptr);
            ACL_SIZE_INFORMATION size = {};
            ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof size, AclSizeInformation));
            SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
            SKObjectSID everyone(world);
            // Everyone must now be allowed to read, write and list.
            const ACCESS_MASK wanted = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE;
            bool everyoneAllowed = false;
            for (DWORD i = 0; i < size.AceCount; ++i) {
                ACCESS_ALLOWED_ACE* ace = nullptr;
                ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
                if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&ace->SidStart, everyone.Get()) &&
                    ((ace->Mask & GENERIC_ALL) || (ace->Mask & wanted) == wanted))
                    everyoneAllowed = true;
            }
            EXPECT_TRUE(everyoneAllowed) << testsupport::Narrow(DaclSddl(path));
            // Windows keeps the one entry written; Wine reports its own three from the mode bits.
            if (!RunningOnWine()) {
                EXPECT_EQ(size.AceCount, 1u);
            }
            EXPECT_NE(DaclSddl(path), before);
        }
        EXPECT_EQ(DaclSddl(path), before);
    }
}

TEST(SKFileSecurityChanger, WithoutASuccessfulGrantNothingIsWritten) {
    ScratchFolder scratch(L"sec");
    std::wstring path = scratch / L"folder";
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    std::wstring changedMeanwhile;
    {
        SKFileSecurityChanger changer(path);
        // Somebody else changes the DACL while the changer lives: an ungranted changer must not undo it.
        ASSERT_TRUE(SetDaclFromSddl(path, L"D:P(A;;FA;;;SY)"));
        changedMeanwhile = DaclSddl(path);
    }
    EXPECT_EQ(DaclSddl(path), changedMeanwhile);
}

TEST(SKFileSecurityChanger, AnUnreadableDaclIsNeverReplaced) {
    ScratchFolder scratch(L"sec");
    // The DACL of a missing object cannot be read; Grant refuses before writing anything. (A folder whose
    // DACL denies reading it but allows replacing it can only be made on Windows: Wine enforces neither.)
    SKFileSecurityChanger missing(scratch / L"missing");
    EXPECT_FALSE(missing.Grant());
    EXPECT_FALSE(missing.Changed());
    EXPECT_FALSE(testsupport::DirectoryExists(scratch / L"missing"));
}

TEST(SKFileSecurityChanger, ANullDaclComesBackAsItWas) {
    ScratchFolder scratch(L"sec");
    std::wstring path = scratch / L"open";
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    SKObjectSecurityDescriptor nullDacl;
    ASSERT_TRUE(SetSecurityDescriptorDacl(nullDacl.Get(), TRUE, nullptr, FALSE));
    ASSERT_TRUE(SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullDacl.Get()));
    const std::wstring before = DaclSddl(path);
    // Windows reports "D:NO_ACCESS_CONTROL"; Wine reports the open mode bits as three entries.
    if (!RunningOnWine()) {
        EXPECT_EQ(before, L"D:NO_ACCESS_CONTROL");
    }
    {
        SKFileSecurityChanger changer(path);
        ASSERT_TRUE(changer.Grant());
    }
    EXPECT_EQ(DaclSddl(path), before);
}

}  // namespace

// The per-machine folders: the decisions on descriptors the test builds (Wine keeps no owners), and the
// opening itself on folders of a scratch tree.
namespace {

std::vector<BYTE> DescriptorOf(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return {};
    const BYTE* bytes = static_cast<const BYTE*>(descriptor);
    std::vector<BYTE> copy(bytes, bytes + GetSecurityDescriptorLength(descriptor));
    LocalFree(descriptor);
    return copy;
}

}  // namespace

// A level a user made before the first run is taken over by an administrator (a user who tried it
// blocks nothing); a link or a file in its place is refused whoever owns it, and so is every level
// somebody else made when the run is no administrator's.
TEST(ProtectedDataFolder, ALevelSomeoneElseMadeIsTakenOverByAnAdministratorButALinkNever) {
    using Verdict = ProtectedDataFolder::LevelVerdict;
    const DWORD folder = FILE_ATTRIBUTE_DIRECTORY;
    const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const std::vector<BYTE> user = DescriptorOf(L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;WD)");
    const std::vector<BYTE> admins = DescriptorOf(L"O:BAD:P");
    PSECURITY_DESCRIPTOR byUser = const_cast<BYTE*>(user.data());
    PSECURITY_DESCRIPTOR byAdmins = const_cast<BYTE*>(admins.data());
    EXPECT_EQ(ProtectedDataFolder::JudgeLevel(folder, folder, byUser, nullptr, true), Verdict::TakeOver);
    EXPECT_EQ(ProtectedDataFolder::JudgeLevel(folder, folder, byUser, nullptr, false), Verdict::ForeignOwner);
    EXPECT_EQ(ProtectedDataFolder::JudgeLevel(folder, folder, byAdmins, nullptr, true), Verdict::Trusted);
    EXPECT_EQ(ProtectedDataFolder::JudgeLevel(folder, folder, nullptr, nullptr, true), Verdict::Trusted);
    // The handle followed a link that the listing still shows (Wine's Unix links), or shows it itself.
    EXPECT_EQ(ProtectedDataFolder::JudgeLevel(folder, link, byUser, nullptr, true), Verdict::Link);
    EXPECT_EQ(ProtectedDataFolder::JudgeLevel(link, folder, byAdmins, nullptr, true), Verdict::Link);
    EXPECT_EQ(ProtectedDataFolder::JudgeLevel(link, link, nullptr, nullptr, true), Verdict::Link);
    EXPECT_EQ(ProtectedDataFolder::JudgeLevel(FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE, byUser, nullptr, true),
              Verdict::NotFolder);
    EXPECT_EQ(ProtectedDataFolder::JudgeLevel(folder, INVALID_FILE_ATTRIBUTES, byUser, nullptr, true),
              Verdict::NotListed);
}

TEST(ProtectedDataFolder, TrustsOnlyAdministratorsSystemOrItsOwnOwner) {
    EXPECT_TRUE(ProtectedDataFolder::IsTrustedOwner(DescriptorOf(L"O:BAD:P").data(), nullptr));
    EXPECT_TRUE(ProtectedDataFolder::IsTrustedOwner(DescriptorOf(L"O:SYD:P").data(), nullptr));
    for (const wchar_t* stranger : {L"O:BUD:P", L"O:WDD:P", L"O:S-1-5-21-1-2-3-1001D:P", L"D:P"})
        EXPECT_FALSE(ProtectedDataFolder::IsTrustedOwner(DescriptorOf(stranger).data(), nullptr)) << Narrow(stranger);
    std::vector<BYTE> own = DescriptorOf(L"O:S-1-5-21-1-2-3-1001");
    PSID ownOwner = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(own.data(), &ownOwner, &defaulted));
    EXPECT_TRUE(ProtectedDataFolder::IsTrustedOwner(DescriptorOf(L"O:S-1-5-21-1-2-3-1001D:P").data(), ownOwner));
    EXPECT_FALSE(ProtectedDataFolder::IsTrustedOwner(DescriptorOf(L"O:S-1-5-21-1-2-3-1002D:P").data(), ownOwner));

    EXPECT_TRUE(ProtectedDataFolder::IsPlainFolder(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(ProtectedDataFolder::IsPlainFolder(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(ProtectedDataFolder::IsPlainFolder(FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(ProtectedDataFolder::IsPlainFolder(INVALID_FILE_ATTRIBUTES));
}

TEST(ProtectedDataFolder, MakesChecksAndKeepsEveryLevelAndRefusesLinksAndFiles) {
    ScratchFolder scratch(L"pdf");
    {
        ProtectedDataFolder made(scratch.Path(), {L"Quorvel", L"Tidewash", L"Reports"});
        ASSERT_TRUE(made.IsOpen()) << Narrow(made.Failure());
        EXPECT_EQ(scratch / L"Quorvel\\Tidewash\\Reports", made.Path());
        // Opened again as a folder that was there: the owner check passes for what we made.
        ProtectedDataFolder again(scratch.Path(), {L"Quorvel", L"Tidewash", L"Reports"});
        ASSERT_TRUE(again.IsOpen()) << Narrow(again.Failure());
        std::wstring failure;
        KernelHandle work = ProtectedDataFolder::CreateNewFolder(again.Handle(), L"run1", failure);
        ASSERT_TRUE(work.IsValid()) << Narrow(failure);
        EXPECT_TRUE(DirectoryExists(made.Path() + L"\\run1"));
        EXPECT_FALSE(ProtectedDataFolder::CreateNewFolder(again.Handle(), L"run1", failure).IsValid());
        EXPECT_NE(std::wstring::npos, failure.find(L"exists already")) << Narrow(failure);
        EXPECT_FALSE(ProtectedDataFolder::CreateNewFolder(again.Handle(), L"..\\escape", failure).IsValid());
        // The probe that learnt this system's owner for new folders is gone.
        WIN32_FIND_DATAW entry;
        HANDLE probe = FindFirstFileW((scratch / L"Tidewash-owner-*").c_str(), &entry);
        EXPECT_EQ(INVALID_HANDLE_VALUE, probe);
        if (probe != INVALID_HANDLE_VALUE) FindClose(probe);
    }
    ASSERT_TRUE(WriteFileBytes(scratch / L"Quorvel\\Tidewash\\Quarantine", "a file, not a folder"));
    ProtectedDataFolder file(scratch.Path(), {L"Quorvel", L"Tidewash", L"Quarantine"});
    EXPECT_FALSE(file.IsOpen());
    EXPECT_NE(std::wstring::npos, file.Failure().find(L"is not a folder")) << Narrow(file.Failure());

    // The build's folder holds a Unix symbolic link, which Wine shows as a junction.
    ProtectedDataFolder link(BinFolder() + L"\\enum_links", {L"link"});
    EXPECT_FALSE(link.IsOpen());
    EXPECT_NE(std::wstring::npos, link.Failure().find(L"is a link")) << Narrow(link.Failure());
    EXPECT_FALSE(FileExists(BinFolder() + L"\\enum_links\\link\\Reports"));
}
