#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/access/SKDirEnum.h"
#include "platform/log/Logger.h"
#include "platform/security/SKObjectSecurityDescriptor.h"
#include "tests/platform/AccessModeSwap.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

struct Entry {
    std::wstring path;
    DWORD attributes;
    uint64_t size;
};

std::vector<Entry> ListAll(const DirEnumPtr& dirEnum) {
    std::vector<Entry> entries;
    Entry e;
    if (!First(dirEnum, e.path, e.attributes, e.size)) return entries;
    do entries.push_back(e);
    while (Next(dirEnum, e.path, e.attributes, e.size));
    return entries;
}

std::set<std::wstring> Paths(const std::vector<Entry>& entries) {
    std::set<std::wstring> paths;
    for (const Entry& e : entries) paths.insert(e.path);
    return paths;
}

// Log lines written while the enumeration tests run (the log lives beside the test program).
class DirEnumLogTest : public ::testing::Test {
protected:
    static std::wstring LogPath() { return ThisProgramFolder() + L"\\qvcleantool.log"; }
    void SetUp() override {
        DebugLevelValue::Remove();
        DeleteFileW(LogPath().c_str());
        level_.reset(new DebugLevelValue(0x2200007F));
        logger_.reset(new Logger());
    }
    void TearDown() override {
        logger_.reset();
        level_.reset();
        DebugLevelValue::Remove();
    }
    // The lines after the banner.
    std::vector<std::string> Lines() {
        logger_.reset();
        std::vector<std::string> lines = SplitLines(ReadFileBytes(LogPath()));
        if (!lines.empty()) lines.erase(lines.begin());
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.find("Enter Win32 Mode") != std::string::npos; }),
                    lines.end());
        return lines;
    }

    std::unique_ptr<DebugLevelValue> level_;
    std::unique_ptr<Logger> logger_;
};

TEST(EnumFindImpl, SkipRuleDecidesOnNameAndAttributes) {
    EXPECT_TRUE(EnumFindImpl::IsSkipped(L".", FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(EnumFindImpl::IsSkipped(L"..", FILE_ATTRIBUTE_DIRECTORY));
    // Junctions and directory links carry both bits.
    EXPECT_TRUE(EnumFindImpl::IsSkipped(L"junction", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_TRUE(EnumFindImpl::IsSkipped(L"j", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    // A file link is a file: it is listed.
    EXPECT_FALSE(EnumFindImpl::IsSkipped(L"filelink", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_FALSE(EnumFindImpl::IsSkipped(L"sub", FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(EnumFindImpl::IsSkipped(L"...", FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(EnumFindImpl::IsSkipped(L".hidden", FILE_ATTRIBUTE_NORMAL));
}

// Records the search paths it is asked for.
class RecordingApiFile final : public ForwardingApiFile {
public:
    using ForwardingApiFile::ForwardingApiFile;
    HANDLE FindFirstFileW(LPCWSTR n, LPWIN32_FIND_DATAW d) override {
        searches.push_back(n);
        return real_.FindFirstFileW(n, d);
    }
    std::vector<std::wstring> searches;
};

TEST(EnumFindImpl, TrailingBackslashGivesOneSeparator) {
    ScratchFolder scratch(L"enum");
    ASSERT_TRUE(WriteFileBytes(scratch / L"a.txt", "12345"));
    ASSERT_TRUE(CreateDirectoryW((scratch / L"sub").c_str(), nullptr));

    RecordingApiFile recording(*SKApi::Instance()->file);
    AccessModeSwap swap(&recording);
    DirEnumPtr dirEnum = CreateDirEnum(scratch.Path() + L"\\", L"*");
    EXPECT_EQ(dirEnum->Folder(), scratch.Path());
    std::vector<Entry> entries = ListAll(dirEnum);
    ASSERT_EQ(recording.searches.size(), 1u);
    EXPECT_EQ(recording.searches[0], scratch.Path() + L"\\*");
    ASSERT_EQ(entries.size(), 2u);
    std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) { return x.path < y.path; });
    EXPECT_EQ(entries[0].path, scratch / L"a.txt");
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_FALSE(entries[0].attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(entries[1].path, scratch / L"sub");
    EXPECT_TRUE(entries[1].attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(EnumFindImpl, PatternSelectsEntries) {
    ScratchFolder scratch(L"enum");
    for (const wchar_t* name : {L"one.dll", L"two.dll", L"three.exe"}) ASSERT_TRUE(WriteFileBytes(scratch / name, ""));
    EXPECT_EQ(Paths(ListAll(CreateDirEnum(scratch.Path(), L"*.dll"))),
              (std::set<std::wstring>{scratch / L"one.dll", scratch / L"two.dll"}));
}

TEST(EnumFindImpl, NullEnumeratorGivesFalse) {
    std::wstring path;
    DWORD attributes = 0;
    uint64_t size = 0;
    EXPECT_FALSE(First(nullptr, path, attributes, size));
    EXPECT_FALSE(Next(nullptr, path, attributes, size));
}

TEST(EnumFindImpl, SizeAbove4GiBKeepsTheHighPart) {
    ScratchFolder scratch(L"enum");
    std::wstring path = scratch / L"big.bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = 5368709121LL;  // 5 GiB + 1, sparse on the host's disk
    ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
    std::vector<Entry> entries = ListAll(CreateDirEnum(scratch.Path(), L"*"));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].size, 5368709121ULL);
}

TEST(EnumFindImpl, LongResultPathsGetTheLongPrefix) {
    ScratchFolder scratch(L"enum");
    // A folder whose own path stays below 260 characters, holding one entry that takes the full path past
    // it and one that does not.
    const std::wstring folder = scratch / std::wstring(250 - scratch.Path().size(), L'd');
    ASSERT_EQ(folder.size(), 251u);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring longName(20, L'n');
    ASSERT_TRUE(WriteFileBytes(L"\\\\?\\" + folder + L"\\" + longName, "x"));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\s", "x"));

    std::set<std::wstring> paths = Paths(ListAll(CreateDirEnum(folder, L"*")));
    const std::wstring longResult = L"\\\\?\\" + folder + L"\\" + longName;
    EXPECT_GE(longResult.size(), 264u);
    EXPECT_EQ(paths, (std::set<std::wstring>{longResult, folder + L"\\s"}));
    // The long result opens as it is.
    EXPECT_NE(GetFileAttributesW(longResult.c_str()), INVALID_FILE_ATTRIBUTES);

    // A folder of 258 characters: "\*" takes the search past the limit, which the long form carries.
    const std::wstring edge = scratch / std::wstring(257 - scratch.Path().size(), L'e');
    ASSERT_EQ(edge.size(), 258u);
    ASSERT_TRUE(CreateDirectoryW(edge.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(L"\\\\?\\" + edge + L"\\f", "x"));
    RecordingApiFile recording(*SKApi::Instance()->file);
    AccessModeSwap swap(&recording);
    EXPECT_EQ(Paths(ListAll(CreateDirEnum(edge, L"*"))), (std::set<std::wstring>{L"\\\\?\\" + edge + L"\\f"}));
    ASSERT_EQ(recording.searches.size(), 1u);
    EXPECT_EQ(recording.searches[0], L"\\\\?\\" + edge + L"\\*");
}

TEST(EnumFindImpl, DirectoryLinksAreNotReturned) {
    // Wine cannot make a junction (FSCTL_SET_REPARSE_POINT fails with ERROR_NOT_SUPPORTED, and its
    // CreateSymbolicLinkW reports success without making anything), but it shows a Unix symbolic link to
    // a folder as FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, as Windows shows a junction.
    // The build makes such a link beside the test programs: enum_links\link -> enum_links\real.
    const std::wstring folder = BinFolder() + L"\\enum_links";
    ASSERT_TRUE(DirectoryExists(folder + L"\\real"));
    const DWORD linkAttributes = GetFileAttributesW((folder + L"\\link").c_str());
    if (RunningOnWine()) {
        ASSERT_NE(linkAttributes, INVALID_FILE_ATTRIBUTES);
        ASSERT_EQ(linkAttributes & 0x410, 0x410u);
    }
    EXPECT_EQ(Paths(ListAll(CreateDirEnum(folder, L"*"))),
              (std::set<std::wstring>{folder + L"\\real", folder + L"\\file.txt"}));
}

TEST_F(DirEnumLogTest, AFolderWithOnlyDotEntriesGivesFalseWithoutALine) {
    ScratchFolder scratch(L"enum");
    std::wstring path;
    DWORD attributes = 0;
    uint64_t size = 0;
    DirEnumPtr dirEnum = CreateDirEnum(scratch.Path(), L"*");
    EXPECT_FALSE(First(dirEnum, path, attributes, size));
    EXPECT_FALSE(Next(dirEnum, path, attributes, size));
    EXPECT_TRUE(Lines().empty());
}

TEST_F(DirEnumLogTest, AMissingFolderIsLoggedAtInfo) {
    ScratchFolder scratch(L"enum");
    std::wstring path;
    DWORD attributes = 0;
    uint64_t size = 0;
    EXPECT_FALSE(First(CreateDirEnum(scratch / L"missing", L"*"), path, attributes, size));
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[-] EnumFindImpl::First() Error 3 FindFirst(" + Narrow(scratch / L"missing\\*", CP_ACP) +
                            ")[SKDirEnum("),
              std::string::npos)
        << lines[0];
}

// Emulates how Windows checks a folder's DACL before listing it, which Wine does not: a folder is listed
// only when its DACL, as the system reports it, allows Everyone to list it.
class DaclCheckingApiFile final : public ForwardingApiFile {
public:
    using ForwardingApiFile::ForwardingApiFile;
    HANDLE FindFirstFileW(LPCWSTR search, LPWIN32_FIND_DATAW d) override {
        std::wstring folder(search);
        folder.erase(folder.rfind(L'\\'));
        if (!EveryoneMayList(folder)) {
            ++refusals;
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        return real_.FindFirstFileW(search, d);
    }
    int refusals = 0;

private:
    static bool EveryoneMayList(const std::wstring& folder) {
        SKObjectSecurityDescriptor descriptor(folder);
        if (!descriptor.IsValid()) return false;
        PACL dacl = descriptor.GetDacl();
        if (!dacl) return descriptor.DaclPresent();  // a NULL DACL allows everything
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        AllocateAndInitializeSid(&world, 1, 0, 0, 0, 0, 0, 0, 0, 0, &everyone);
        bool allowed = false;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                EqualSid(&ace->SidStart, everyone) && (ace->Mask & (GENERIC_ALL | FILE_LIST_DIRECTORY)))
                allowed = true;
        }
        FreeSid(everyone);
        return allowed;
    }
};

std::wstring DaclSddl(const std::wstring& path) {
    SKObjectSecurityDescriptor descriptor(path);
    LPWSTR text = nullptr;
    if (!descriptor.IsValid() || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                                     descriptor.Get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"(unreadable)";
    std::wstring result(text);
    LocalFree(text);
    return result;
}

bool SetDaclFromSddl(const std::wstring& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return false;
    BOOL ok = SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return ok != FALSE;
}

TEST(EnumFindImpl, ARefusingFolderIsOpenedForTheEnumerationAndRestoredAfter) {
    ScratchFolder scratch(L"enum");
    const std::wstring folder = scratch / L"locked";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\inside.txt", "x"));
    ASSERT_TRUE(SetDaclFromSddl(folder, L"D:P(A;;FA;;;SY)"));
    const std::wstring before = DaclSddl(folder);

    DaclCheckingApiFile checking(*SKApi::Instance()->file);
    AccessModeSwap swap(&checking);
    {
        DirEnumPtr dirEnum = CreateDirEnum(folder, L"*");
        EXPECT_EQ(Paths(ListAll(dirEnum)), (std::set<std::wstring>{folder + L"\\inside.txt"}));
        EXPECT_EQ(checking.refusals, 1);
        EXPECT_TRUE(dirEnum->OpenedDacl());
        EXPECT_NE(DaclSddl(folder), before);  // open for as long as the enumerator lives

        // A second First on the same enumerator restores the first change before making its own.
        std::wstring path;
        DWORD attributes = 0;
        uint64_t size = 0;
        EXPECT_TRUE(First(dirEnum, path, attributes, size));
        EXPECT_EQ(path, folder + L"\\inside.txt");
    }
    EXPECT_EQ(DaclSddl(folder), before);
}

TEST_F(DirEnumLogTest, AFolderWhoseDaclCannotBeReadIsLeftAlone) {
    // The refusing mode refuses a folder it cannot read the DACL of; so does the changer, which then
    // writes nothing. (On Windows: a folder whose DACL denies the user READ_CONTROL.)
    ScratchFolder scratch(L"enum");
    const std::wstring folder = scratch / L"unreadable";
    DaclCheckingApiFile checking(*SKApi::Instance()->file);
    AccessModeSwap swap(&checking);
    std::wstring path;
    DWORD attributes = 0;
    uint64_t size = 0;
    DirEnumPtr dirEnum = CreateDirEnum(folder, L"*");
    EXPECT_FALSE(First(dirEnum, path, attributes, size));
    EXPECT_FALSE(dirEnum->OpenedDacl());
    EXPECT_FALSE(DirectoryExists(folder));
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[-] EnumFindImpl::First() Error "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" in SKFileSecurityChanger(" + Narrow(folder, CP_ACP) + ")[SKDirEnum("), std::string::npos)
        << lines[0];
}

}  // namespace
