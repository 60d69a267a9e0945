// The cleanup engine: its command lines, its hash, the netsvcs list edit, the saved-key format, the
// removal and its undoing run in-process with a stand-in signer test, and RunMendrel.exe started the way
// grimlet.dll starts it and then asked to list and restore.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>

#include <set>
#include <string>

#include "grimlet/common/TrustedSigner.h"
#include "grimlet/mendrel/AutoRunChange.h"
#include "grimlet/mendrel/MendrelCommandLine.h"
#include "grimlet/mendrel/MendrelEngine.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/common/NetsvcsGroupList.h"
#include "grimlet/mendrel/QuarantineCommands.h"
#include "grimlet/mendrel/QuarantineStore.h"
#include "grimlet/mendrel/RegFile.h"
#include "grimlet/mendrel/RegistryTreeCopy.h"
#include "grimlet/services/MendrelLauncher.h"
#include "plugin_host/PluginInterface.h"
#include "platform/hash/FileDigest.h"
#include "platform/security/ProtectedDataFolder.h"
#include "tests/support/AutoRunValues.h"
#include "tests/support/FakeService.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kNetsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

bool NeverTrusted(const std::wstring&) { return false; }
bool AlwaysTrusted(const std::wstring&) { return true; }

std::string Sha1Of(const std::string& bytes) {
    FileDigest hash(false, true);
    hash.Update(bytes.data(), bytes.size());
    return hash.FinishSha1Hex();
}

std::vector<uint8_t> Utf16(const std::u16string& text) {
    std::vector<uint8_t> bytes = RegFile::Encode(text);
    return std::vector<uint8_t>(bytes.begin() + 2, bytes.end());
}

// Every key and value of a service, as the engine saves them.
std::vector<RegFileKey> TreeOf(const std::wstring& keyPath) {
    std::vector<RegFileKey> keys;
    EXPECT_TRUE(ReadRegistryTree(keyPath, keys)) << Narrow(keyPath);
    return keys;
}

std::string MachineManifest() { return ReadFileBytes(MachineQuarantineFolder() + L"\\manifest.txt"); }

// Owned by Administrators, with a list of its own that lets in SYSTEM and Administrators alone and
// hands both entries down to everything inside.
void ExpectOpenToAdministratorsAndSystemOnly(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE, defaulted = FALSE;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    BYTE administrators[SECURITY_MAX_SID_SIZE], system[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size);
    size = sizeof system;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "inherits from above";
    EXPECT_TRUE(owner && EqualSid(owner, administrators));
    ASSERT_TRUE(present && dacl);
    std::set<std::string> granted;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, index, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
        EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags & ~INHERITED_ACE);
        EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), ace->Mask);
        PSID sid = &ace->SidStart;
        granted.insert(EqualSid(sid, administrators) ? "Administrators" : EqualSid(sid, system) ? "SYSTEM" : "other");
    }
    EXPECT_EQ(2u, dacl->AceCount);
    EXPECT_EQ((std::set<std::string>{"Administrators", "SYSTEM"}), granted);
}

// The quarantine folder's owner and list: always the ones the engine writes, and, where the system keeps
// them, the folder's own. Wine 8 keeps no access list for a file or folder (it makes one up from the
// Unix mode bits), so there only the written descriptor can be read back.
void ExpectQuarantineOpenToAdministratorsAndSystemOnly(const std::wstring& folder) {
    std::vector<BYTE> written;
    ASSERT_TRUE(ProtectedDataFolder::ProtectedSecurity(written));
    ExpectOpenToAdministratorsAndSystemOnly(written.data());
    if (RunningOnWine()) return;
    PSECURITY_DESCRIPTOR kept = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                                   nullptr, nullptr, nullptr, &kept));
    ExpectOpenToAdministratorsAndSystemOnly(kept);
    LocalFree(kept);
}

using NetsvcsNames = NetsvcsListing;

// Removes the restart operations a test scheduled for files under `folder`.
void ForgetPendingRenames(const std::wstring& folder) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<wchar_t> data(size / 2 + 2, L'\0');
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size);
        std::vector<std::wstring> items;
        for (std::size_t at = 0; at < data.size() && data[at];) {
            std::wstring item(&data[at]);
            items.push_back(item);
            at += item.size() + 1;
            if (at < data.size() && !data[at]) {  // an empty target: a deletion
                items.push_back(L"");
                ++at;
            }
        }
        std::vector<wchar_t> kept;
        for (std::size_t i = 0; i + 1 < items.size() + 1 && i < items.size(); i += 2) {
            if (items[i].find(folder) != std::wstring::npos) continue;
            kept.insert(kept.end(), items[i].begin(), items[i].end());
            kept.push_back(L'\0');
            if (i + 1 < items.size()) kept.insert(kept.end(), items[i + 1].begin(), items[i + 1].end());
            kept.push_back(L'\0');
        }
        kept.push_back(L'\0');
        if (kept.size() <= 1)
            RegDeleteValueW(key, L"PendingFileRenameOperations");
        else
            RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, reinterpret_cast<BYTE*>(kept.data()),
                           static_cast<DWORD>(kept.size() * 2));
    }
    RegCloseKey(key);
}

std::string PendingRenames() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
    DWORD size = 0, type = 0;
    std::wstring text;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<wchar_t> data(size / 2 + 1, L'\0');
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size);
        for (wchar_t c : data) text.push_back(c ? c : L'|');
    }
    RegCloseKey(key);
    return Narrow(text);
}

class MendrelTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
        stem_ = UniqueServiceStem(Widen(::testing::UnitTest::GetInstance()->current_test_info()->name()).substr(0, 12).c_str());
        engineFolder_ = scratch_ / L"plugin";
        CreateDirectoryW(engineFolder_.c_str(), nullptr);
        quarantine_ = scratch_ / L"quarantine";
    }
    void TearDown() override { ForgetPendingRenames(scratch_.Path()); }
    std::wstring Dll(const std::wstring& name, const std::string& bytes) {
        std::wstring path = scratch_ / name;
        WriteFileBytes(path, bytes);
        return path;
    }
    ScratchFolder scratch_{L"mendrel"};
    std::wstring stem_;
    std::wstring engineFolder_;
    std::wstring quarantine_;
};

TEST(MendrelCommandLineTest, AcceptsOnlyTheEngineLine) {
    MendrelCommandLine line;
    std::wstring problem;
    ASSERT_TRUE(line.Parse(L"\"C:\\x\\plugin\\RunMendrel\" -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. "
                           L"-GCPATH=\"C:\\WINDOWS\\system32\\my worm.dll\"",
                           problem))
        << Narrow(problem);
    EXPECT_EQ(L"C:\\WINDOWS\\system32\\my worm.dll", line.dllPath);
    EXPECT_TRUE(MendrelCommandLine().Parse(L"x -gcpath=\"\\\\server\\share\\w.dll\" -gc -ASSIGN=WORM_GRIMLET. "
                                           L"-gcname=WORM_GRIMLET.",
                                           problem));
    MendrelCommandLine list;
    ASSERT_TRUE(list.Parse(L"x -LIST", problem));
    EXPECT_EQ(MendrelCommandLine::Command::List, list.command);
    MendrelCommandLine restore;
    ASSERT_TRUE(restore.Parse(L"x -restore=a9993e364706816aba3e25717850c26c9cd0d89d", problem));
    EXPECT_EQ(MendrelCommandLine::Command::Restore, restore.command);
    EXPECT_EQ("A9993E364706816ABA3E25717850C26C9CD0D89D", restore.sha1);

    const wchar_t* refused[] = {
        L"x",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET.",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"worm.dll\"",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"system32\\worm.dll\"",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"C:worm.dll\"",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"C:\\\"",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"C:\\*.dll\"",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"\\\\.\\PhysicalDrive0\"",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"C:\\a.dll:stream\"",
        L"x -assign=WORM_OTHER. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"C:\\a.dll\"",
        L"x -assign=WORM_GRIMLET -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"C:\\a.dll\"",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"C:\\a.dll\" -GC",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"C:\\a.dll\" -reboot",
        L"x -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"C:\\a.dll\" -GCPATH=\"C:\\b.dll\"",
        L"x -assign=WORM_GRIMLET. -GCX -GCNAME=WORM_GRIMLET. -GCPATH=\"C:\\a.dll\"",
        L"x -list -GC",
        L"x -list=all",
        L"x -restore",
        L"x -restore=A9993E364706816ABA3E25717850C26C9CD0D89",
        L"x -restore=G9993E364706816ABA3E25717850C26C9CD0D89D",
        L"x -restore=A9993E364706816ABA3E25717850C26C9CD0D89D -list",
        L"x -autorun=on",
        L"x -autorun",
        L"x -autorun=off -list",
    };
    MendrelCommandLine autorun;
    ASSERT_TRUE(autorun.Parse(L"\"C:\\x\\plugin\\RunMendrel\" -AUTORUN=off", problem));
    EXPECT_EQ(MendrelCommandLine::Command::AutoRunOff, autorun.command);
    for (const wchar_t* text : refused) {
        problem.clear();
        EXPECT_FALSE(MendrelCommandLine().Parse(text, problem)) << Narrow(text);
        EXPECT_FALSE(problem.empty());
    }
}

TEST(MendrelPiecesTest, Sha1AndNetsvcsListEdit) {
    EXPECT_EQ("DA39A3EE5E6B4B0D3255BFEF95601890AFD80709", Sha1Of(""));
    EXPECT_EQ("A9993E364706816ABA3E25717850C26C9CD0D89D", Sha1Of("abc"));
    EXPECT_EQ("84983E441C3BD26EBAAE4AA1F95129E5E54670F1",
              Sha1Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
    FileDigest million(false, true);
    std::string chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i) million.Update(chunk.data(), chunk.size());
    EXPECT_EQ("34AA973CD4C4DAA4F61EEB2BDBAD27316534016F", million.FinishSha1Hex());

    const wchar_t list[] = L"AeLookupSvc\0Worm\0wuauserv\0WORM\0";
    std::vector<wchar_t> data(list, list + sizeof list / sizeof list[0]);
    bool removed = false;
    std::vector<wchar_t> kept = NetsvcsGroupList::WithoutName(data, L"worm", removed);
    EXPECT_TRUE(removed);
    const wchar_t expected[] = L"AeLookupSvc\0wuauserv\0";
    EXPECT_EQ(std::vector<wchar_t>(expected, expected + sizeof expected / sizeof expected[0]), kept);
    NetsvcsGroupList::WithoutName(kept, L"absent", removed);
    EXPECT_FALSE(removed);
}

TEST(MendrelPiecesTest, SavedKeysReadBackExactlyAndAnythingElseIsRefused) {
    const std::u16string service = u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tw";
    std::vector<uint8_t> blob(100);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
    const std::vector<RegFileKey> keys = {
        {service,
         {{u"", REG_SZ, Utf16(std::u16string(u"default\0", 8))},
          {u"Quote\"Back\\", REG_SZ, Utf16(std::u16string(u"C:\\a \"b\"\0", 9))},
          {u"ImagePath", REG_EXPAND_SZ, Utf16(std::u16string(u"%SystemRoot%\\x\0", 15))},
          {u"List", REG_MULTI_SZ, Utf16(std::u16string(u"a\0b\0\0", 5))},
          {u"Type", REG_DWORD, {0x20, 0, 0, 0}},
          {u"Blob", REG_BINARY, blob},
          {u"Big", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
          {u"Odd", REG_SZ, {'a', 0, 'b'}},
          {u"Unterminated", REG_SZ, Utf16(u"abc")},
          {u"Line", REG_SZ, Utf16(std::u16string(u"a\r\nb\0", 5))},
          {u"Empty", REG_SZ, {}},
          {u"None", REG_NONE, {}},
          {u"Short", REG_DWORD, {1, 2}},
          {u"Resource", REG_RESOURCE_REQUIREMENTS_LIST, {1}}}},
        {service + u"\\Parameters", {}},
    };
    std::u16string text;
    std::string problem;
    ASSERT_TRUE(RegFile::Format(keys, text, problem)) << problem;
    const char16_t* expectedLines[] = {
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tw]\r\n",
        u"\r\n@=\"default\"\r\n", u"\r\n\"Quote\\\"Back\\\\\"=\"C:\\\\a \\\"b\\\"\"\r\n",
        u"\r\n\"ImagePath\"=hex(2):25,00,53,00,", u"\r\n\"Type\"=dword:00000020\r\n", u"\r\n\"Blob\"=hex:00,07,0e,",
        u"\r\n\"Big\"=hex(b):01,02,03,04,05,06,07,08\r\n", u"\r\n\"Odd\"=hex(1):61,00,62\r\n",
        u"\r\n\"Unterminated\"=hex(1):61,00,62,00,63,00\r\n", u"\r\n\"Empty\"=hex(1):\r\n", u"\r\n\"None\"=hex(0):\r\n",
        u"\r\n\"Short\"=hex(4):01,02\r\n", u"\r\n\"Resource\"=hex(a):01\r\n", u",\\\r\n  ",
        u"\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tw\\Parameters]\r\n\r\n"};
    for (const char16_t* line : expectedLines)
        EXPECT_NE(std::u16string::npos, text.find(line)) << Narrow(std::wstring(line, line + std::char_traits<char16_t>::length(line)));
    for (std::size_t start = 0, end; (end = text.find(u"\r\n", start)) != std::u16string::npos; start = end + 2)
        EXPECT_LE(end - start, 80u) << "regedit's line width";

    std::vector<RegFileKey> read;
    ASSERT_TRUE(RegFile::Parse(text, read, problem)) << problem;
    EXPECT_TRUE(keys == read);
    std::u16string decoded;
    ASSERT_TRUE(RegFile::Decode(RegFile::Encode(text), decoded));
    EXPECT_EQ(text, decoded);
    EXPECT_FALSE(RegFile::Decode({'W', 0, 'i', 0}, decoded));

    const std::u16string header = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n";
    const std::u16string refused[] = {
        u"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n",
        u"Windows Registry Editor Version 5.00\r\n\"x\"=dword:1\r\n",
        u"Windows Registry Editor Version 5.00\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n",
        u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\\\A]\r\n",
        u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\A\r\n",
        header + u"[HKEY_LOCAL_MACHINE\\a]\r\n",
        header + u"\"x\"=-\r\n",
        header + u"\"x\"=\"a\\n\"\r\n",
        header + u"\"x\"=\"a\" and more\r\n",
        header + u"\"x\"=\"open\r\n",
        header + u"\"\"=\"a\"\r\n",
        header + u"\"x\"=dword:1\r\n\"X\"=dword:2\r\n",
        header + u"\"x\"=dword:123456789\r\n",
        header + u"\"x\"=hex:1g\r\n",
        header + u"\"x\"=hex:01,,02\r\n",
        header + u"\"x\"=hex(100000000):00\r\n",
        header + u"\"x\"=hex:01,\\",
        header + u"x=1\r\n",
        header + u"[HKEY_LOCAL_MACHINE\\A\\.]\r\n",
        header + u"[HKEY_LOCAL_MACHINE\\A\\..\\B]\r\n",
        header + std::u16string(u"[HKEY_LOCAL_MACHINE\\A\0B]\r\n", 26),
        header + std::u16string(u"\"a\0b\"=dword:1\r\n", 15),
        std::u16string(RegFile::kMaxTextUnits + 1, u' '),
    };
    for (const std::u16string& bad : refused) {
        problem.clear();
        EXPECT_FALSE(RegFile::Parse(bad, read, problem)) << Narrow(std::wstring(bad.begin(), bad.end()));
        EXPECT_FALSE(problem.empty());
    }
    // What was not there is written as regedit's deletions, and read back as such only when asked for.
    std::vector<RegFileKey> absent = {
        {u"HKEY_LOCAL_MACHINE\\A", {}, true},
        {u"HKEY_LOCAL_MACHINE\\B", {{u"", REG_SZ, {}, true}, {u"x", REG_DWORD, {1, 0, 0, 0}}}}};
    ASSERT_TRUE(RegFile::Format(absent, text, problem)) << problem;
    EXPECT_NE(std::u16string::npos, text.find(u"[-HKEY_LOCAL_MACHINE\\A]\r\n\r\n[HKEY_LOCAL_MACHINE\\B]\r\n@=-\r\n"));
    EXPECT_FALSE(RegFile::Parse(text, read, problem));
    ASSERT_TRUE(RegFile::Parse(text, read, problem, true)) << problem;
    EXPECT_TRUE(absent == read);
    EXPECT_FALSE(RegFile::Parse(header + u"[-HKEY_LOCAL_MACHINE\\C]\r\n@=\"a\"\r\n", read, problem, true));
    absent[0].values = absent[1].values;
    EXPECT_FALSE(RegFile::Format(absent, text, problem));
    std::vector<RegFileKey> unwritable = {{u"HKEY_LOCAL_MACHINE\\A", {{u"two\nlines", REG_SZ, {}}}}};
    EXPECT_FALSE(RegFile::Format(unwritable, text, problem));
}

TEST_F(MendrelTest, RemovesEveryServiceOfTheDllAfterQuarantiningIt) {
    const std::string bytes = "MZ worm body";
    std::wstring dll = Dll(L"worm.dll", bytes);
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService first(stem_ + L"A", kNetsvcs, dll.c_str());
    FakeService second(stem_ + L"B", L"C:\\WINDOWS\\System32\\SVCHOST.EXE -k NetSvcs", nullptr);
    FakeService::SetString(second.ParametersPath(), L"ServiceDll", dll.substr(0, 3) + L"." + dll.substr(2));
    FakeService bystander(stem_ + L"C", L"svchost.exe -k LocalService", dll.c_str());
    // A chain of subkeys deeper than a save holds: the keys above it are saved, the rest is named in the
    // manifest, and the removal goes on.
    std::wstring deep = second.KeyPath();
    for (int level = 0; level < 40; ++level) deep += L"\\d" + std::to_wstring(level);
    FakeService::SetString(deep, L"Bottom", L"x");
    ASSERT_TRUE(FakeService::KeyExists(deep));
    // A plain key that only carries a link's value is no link: it is saved and deleted like the others.
    const wchar_t fakeTarget[] = L"\\Registry\\Machine\\SYSTEM\\Nowhere";
    FakeService::SetValue(second.KeyPath() + L"\\Fake", L"SymbolicLinkValue", REG_LINK, fakeTarget,
                          sizeof fakeTarget - sizeof(wchar_t));
    FakeService::SetString(second.KeyPath() + L"\\Fake\\Sub", L"Value", L"x");
    ASSERT_TRUE(FakeService::DenyEverybody(first.KeyPath()));
    ASSERT_TRUE(FakeService::DenyEverybody(second.ParametersPath()));
    NetsvcsNames names({first.Name(), second.Name(), bystander.Name()});

    MendrelEngine engine(quarantine_, &NeverTrusted);
    EXPECT_EQ(MendrelExitCode::Removed, engine.Run(dll));

    EXPECT_FALSE(FakeService::KeyExists(first.KeyPath()));
    EXPECT_FALSE(FakeService::KeyExists(second.KeyPath()));
    EXPECT_TRUE(FakeService::KeyExists(bystander.KeyPath()));
    EXPECT_FALSE(NetsvcsNames::Lists(first.Name()));
    EXPECT_FALSE(NetsvcsNames::Lists(second.Name()));
    EXPECT_TRUE(NetsvcsNames::Lists(bystander.Name()));
    EXPECT_FALSE(FileExists(dll));
    std::wstring copy = engine.QuarantineFolder() + L"\\" + Widen(Sha1Of(bytes)) + L".bin";
    EXPECT_EQ(bytes, ReadFileBytes(copy));
    std::string manifest = ReadFileBytes(engine.QuarantineFolder() + L"\\manifest.txt");
    EXPECT_EQ(0u, manifest.find(Narrow(dll) + "\t" + Sha1Of(bytes) + "\t" + std::to_string(bytes.size()) + "\t"))
        << manifest;
    EXPECT_NE(std::string::npos, manifest.find("\ttoo deep: " + Narrow(second.KeyPath()) + "\\d0\\")) << manifest;
    std::vector<RegFileKey> savedKeys;
    QuarantineStore store(quarantine_);
    ASSERT_TRUE(store.Prepare());
    ASSERT_TRUE(store.LoadKeys(Widen(Sha1Of(bytes)) + L".reg", savedKeys));
    EXPECT_EQ(2u + 2u + 2u + 32u, savedKeys.size())
        << "both services and their Parameters, the plain key and its subkey, and the chain down to 32 levels";
}

// The whole way back: every value type, a subkey, the default value and a key that denies reading are
// saved as they were, and the file comes back byte for byte with its attributes - once.
TEST_F(MendrelTest, ARemovedServiceAndItsDllAreRestoredExactlyOnce) {
    const std::string bytes("MZ restorable\0worm\r\n", 21);
    std::wstring dll = Dll(L"restorable.dll", bytes);
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    const DWORD attributes = GetFileAttributesW(dll.c_str());
    FakeService service(stem_ + L"Q", kNetsvcs, dll.c_str());
    FakeService::SetString(service.KeyPath(), L"", L"default value");
    FakeService::SetString(service.KeyPath(), L"DisplayName", L"Quote \" and back\\slash");
    FakeService::SetValue(service.KeyPath(), L"DependOnService", REG_MULTI_SZ, L"RpcSs\0Tcpip\0", 26);
    const wchar_t unterminated[] = L"abcX";  // stored without its final unit, and no NUL after it
    FakeService::SetValue(service.KeyPath(), L"Unterminated", REG_SZ, unterminated, 6);
    std::vector<BYTE> blob(300);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<BYTE>(i);
    FakeService::SetValue(service.KeyPath(), L"FailureActions", REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
    const uint64_t big = 0x0123456789ABCDEFull;
    FakeService::SetValue(service.KeyPath(), L"Big", REG_QWORD, &big, sizeof big);
    const DWORD type = SERVICE_WIN32_SHARE_PROCESS;
    FakeService::SetValue(service.ParametersPath() + L"\\Deeper", L"Type", REG_DWORD, &type, sizeof type);
    NetsvcsNames names({service.Name()});
    const std::vector<RegFileKey> saved = TreeOf(service.KeyPath());
    ASSERT_EQ(3u, saved.size());
    std::set<uint32_t> types;
    for (const RegFileValue& value : saved[0].values) types.insert(value.type);
    EXPECT_EQ((std::set<uint32_t>{REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY, REG_QWORD}), types);
    ASSERT_TRUE(FakeService::DenyEverybody(service.KeyPath()));
    CreateDirectoryW(quarantine_.c_str(), nullptr);  // there already, open as its parent

    MendrelEngine engine(quarantine_, &NeverTrusted);
    ASSERT_EQ(MendrelExitCode::Removed, engine.Run(dll));
    ASSERT_FALSE(FakeService::KeyExists(service.KeyPath()));
    ASSERT_FALSE(FileExists(dll));
    ExpectQuarantineOpenToAdministratorsAndSystemOnly(quarantine_);
    const std::string sha1 = Sha1Of(bytes);
    std::string keysFile = ReadFileBytes(quarantine_ + L"\\" + Widen(sha1) + L".reg");
    std::vector<uint8_t> header = RegFile::Encode(u"Windows Registry Editor Version 5.00\r\n");
    EXPECT_EQ(0u, keysFile.find(std::string(header.begin(), header.end())));
    std::string manifest = ReadFileBytes(quarantine_ + L"\\manifest.txt");
    char attributeText[16];
    snprintf(attributeText, sizeof attributeText, "%08lX", attributes);
    EXPECT_NE(std::string::npos, manifest.find("\tquarantined\t" + std::string(attributeText) + "\t" + sha1 + ".bin\t" +
                                               sha1 + ".reg\t" + Narrow(service.Name()) + "\t-\r\n"))
        << manifest;

    QuarantineStore store(quarantine_);
    EXPECT_EQ(MendrelExitCode::Restored, QuarantineCommands::Restore(store, sha1));
    EXPECT_EQ(bytes, ReadFileBytes(dll));
    EXPECT_EQ(attributes, GetFileAttributesW(dll.c_str()));
    EXPECT_TRUE(saved == TreeOf(service.KeyPath()));
    EXPECT_TRUE(NetsvcsNames::Lists(service.Name()));
    EXPECT_EQ(MendrelExitCode::NotQuarantined, QuarantineCommands::Restore(store, sha1));
    EXPECT_EQ(MendrelExitCode::NotQuarantined, QuarantineCommands::Restore(store, Sha1Of("never quarantined")));
    std::vector<std::wstring> lines;
    EXPECT_EQ(MendrelExitCode::Listed, QuarantineCommands::List(store, lines));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find(Widen(sha1) + L"\t" + dll + L"\t" + service.Name() + L"\t"));
    EXPECT_EQ(L"\trestored", lines[0].substr(lines[0].size() - 9));
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(MendrelTest, ARestoreChangesNothingWhenThePathIsTakenTheKeyExistsOrTheSaveIsMalformed) {
    const std::string bytes = "MZ refused restore";
    std::wstring dll = Dll(L"refused.dll", bytes);
    FakeService service(stem_ + L"F", kNetsvcs, dll.c_str());
    NetsvcsNames names({service.Name()});
    ASSERT_EQ(MendrelExitCode::Removed, MendrelEngine(quarantine_, &NeverTrusted).Run(dll));
    QuarantineStore store(quarantine_);
    const std::string sha1 = Sha1Of(bytes);
    auto expectNothingRestored = [&]() {
        EXPECT_FALSE(NetsvcsNames::Lists(service.Name()));
        std::vector<QuarantineEntry> entries;
        ASSERT_TRUE(store.ReadEntries(entries));
        ASSERT_EQ(1u, entries.size());
        EXPECT_EQ(L"quarantined", entries[0].state);
    };

    WriteFileBytes(dll, "somebody else's");
    EXPECT_EQ(MendrelExitCode::RestoreRefused, QuarantineCommands::Restore(store, sha1));
    EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_EQ("somebody else's", ReadFileBytes(dll));
    expectNothingRestored();
    DeleteFileW(dll.c_str());

    {
        FakeService occupant(service.Name(), L"occupant.exe", nullptr);
        EXPECT_EQ(MendrelExitCode::RestoreRefused, QuarantineCommands::Restore(store, sha1));
        EXPECT_FALSE(FileExists(dll));
        EXPECT_EQ(1u, TreeOf(service.KeyPath()).size()) << "the occupant's key gained no subkey";
        expectNothingRestored();
    }

    const std::wstring keysPath = quarantine_ + L"\\" + Widen(sha1) + L".reg";
    const std::string keysFile = ReadFileBytes(keysPath);
    std::vector<uint8_t> deletion = Utf16(u"[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services]\r\n");
    std::vector<uint8_t> elsewhere = RegFile::Encode(
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\exefile]\r\n");
    for (const std::string& tampered : {keysFile + std::string(deletion.begin(), deletion.end()),
                                        std::string(elsewhere.begin(), elsewhere.end()), keysFile.substr(2)}) {
        WriteFileBytes(keysPath, tampered);
        EXPECT_EQ(MendrelExitCode::QuarantineUnreadable, QuarantineCommands::Restore(store, sha1));
        EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
        EXPECT_FALSE(FileExists(dll));
        expectNothingRestored();
    }
    WriteFileBytes(keysPath, keysFile);
    const std::wstring copyPath = quarantine_ + L"\\" + Widen(sha1) + L".bin";
    WriteFileBytes(copyPath, "MZ refused restorE");
    EXPECT_EQ(MendrelExitCode::QuarantineUnreadable, QuarantineCommands::Restore(store, sha1));
    EXPECT_FALSE(FileExists(dll));
    expectNothingRestored();

    WriteFileBytes(copyPath, bytes);

    // Forged lines for the same item: another path than the saved ServiceDll (a planted DLL in a system
    // folder, or a path that is no plain local one), or other services than the saved keys hold.
    const std::wstring manifestPath = quarantine_ + L"\\manifest.txt";
    const std::string manifest = ReadFileBytes(manifestPath);
    const std::string line = manifest.substr(0, manifest.find("\r\n") + 2);
    const std::wstring planted = scratch_ / L"planted.dll";
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string forged = line;
        forged.replace(forged.find(from), from.size(), to);
        return forged;
    };
    for (const std::string& forged : {replaced(Narrow(dll), Narrow(planted)), replaced(Narrow(dll), "\\\\server\\x.dll"),
                                      replaced(Narrow(dll), Narrow(scratch_ / L"..\\refused.dll")),
                                      replaced("\t" + Narrow(service.Name()) + "\t", "\tOther\t"),
                                      replaced("\t" + Narrow(service.Name()) + "\t", "\t" + Narrow(service.Name()) + ", Other\t")}) {
        WriteFileBytes(manifestPath, manifest + forged);
        EXPECT_EQ(MendrelExitCode::QuarantineUnreadable, QuarantineCommands::Restore(store, sha1)) << forged;
        EXPECT_FALSE(FileExists(planted));
        EXPECT_FALSE(FileExists(dll));
        EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
        EXPECT_EQ(manifest + forged, ReadFileBytes(manifestPath)) << "nothing written";
    }
    WriteFileBytes(manifestPath, manifest);

    // A quarantine whose folder fails its check is neither listed nor restored from.
    QuarantineStore blocked(Dll(L"blocker", "not a folder") + L"\\quarantine");
    std::vector<std::wstring> lines;
    EXPECT_EQ(MendrelExitCode::QuarantineFolderRefused, QuarantineCommands::List(blocked, lines));
    EXPECT_EQ(MendrelExitCode::QuarantineFolderRefused, QuarantineCommands::Restore(blocked, sha1));

    EXPECT_EQ(MendrelExitCode::Restored, QuarantineCommands::Restore(store, sha1));
    EXPECT_EQ(bytes, ReadFileBytes(dll));
    EXPECT_TRUE(FakeService::KeyExists(service.ParametersPath()));
}

// A restore interrupted after any of its steps, as by a crash, is completed by the next -restore. The
// DLL's path is as long as a removal takes: the temporary name beside it is short.
TEST_F(MendrelTest, AnInterruptedRestoreIsCompletedByTheNext) {
    using QuarantineCommands::RestoreStep;
    const std::string bytes = "MZ interrupted";
    std::wstring dll = scratch_ / L"long";
    dll += std::wstring(MAX_PATH - 1 - 4 - dll.size(), L'x') + L".dll";
    WriteFileBytes(dll, bytes);
    ASSERT_EQ(bytes, ReadFileBytes(dll));
    FakeService service(stem_ + L"I", kNetsvcs, dll.c_str());
    NetsvcsNames names({service.Name()});
    const std::vector<RegFileKey> saved = TreeOf(service.KeyPath());
    QuarantineStore store(quarantine_);
    const std::string sha1 = Sha1Of(bytes);
    static RestoreStep stopAfter;
    for (RestoreStep step : {RestoreStep::Recorded, RestoreStep::FilePlaced, RestoreStep::KeysWritten,
                             RestoreStep::FileMoved, RestoreStep::NamesAdded}) {
        ASSERT_EQ(MendrelExitCode::Removed, MendrelEngine(quarantine_, &NeverTrusted).Run(dll));
        stopAfter = step;
        QuarantineCommands::Restore(store, sha1, [](RestoreStep done) { return done != stopAfter; });
        EXPECT_EQ(MendrelExitCode::Restored, QuarantineCommands::Restore(store, sha1)) << static_cast<int>(step);
        EXPECT_EQ(bytes, ReadFileBytes(dll));
        EXPECT_TRUE(saved == TreeOf(service.KeyPath()));
        EXPECT_TRUE(NetsvcsNames::Lists(service.Name()));
        EXPECT_EQ(MendrelExitCode::NotQuarantined, QuarantineCommands::Restore(store, sha1));
    }
    // What an interrupted restore left is taken up only when it is exactly what was saved.
    ASSERT_EQ(MendrelExitCode::Removed, MendrelEngine(quarantine_, &NeverTrusted).Run(dll));
    stopAfter = RestoreStep::KeysWritten;
    QuarantineCommands::Restore(store, sha1, [](RestoreStep done) { return done != stopAfter; });
    FakeService::SetString(service.ParametersPath(), L"Planted", L"by somebody else");
    EXPECT_EQ(MendrelExitCode::RestoreRefused, QuarantineCommands::Restore(store, sha1));
    EXPECT_FALSE(FileExists(dll));
    FakeService::ForceDelete(service.KeyPath());
    EXPECT_EQ(MendrelExitCode::Restored, QuarantineCommands::Restore(store, sha1));
    EXPECT_TRUE(saved == TreeOf(service.KeyPath()));
}

TEST_F(MendrelTest, ChangesNothingForATrustedDllOrWithoutAMatchingService) {
    std::wstring dll = Dll(L"system.dll", "MZ signed");
    FakeService service(stem_ + L"T", kNetsvcs, dll.c_str());
    ASSERT_TRUE(FakeService::DenyEverybody(service.KeyPath()));
    std::wstring before = FakeService::SecurityAsSddl(service.KeyPath());
    NetsvcsNames names({service.Name()});

    MendrelEngine trusting(quarantine_, &AlwaysTrusted);
    EXPECT_EQ(MendrelExitCode::TrustedSigner, trusting.Run(dll));
    EXPECT_TRUE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_EQ(before, FakeService::SecurityAsSddl(service.KeyPath()));
    EXPECT_TRUE(NetsvcsNames::Lists(service.Name()));
    EXPECT_TRUE(FileExists(dll));
    EXPECT_FALSE(FileExists(trusting.QuarantineFolder() + L"\\manifest.txt"));
    EXPECT_FALSE(FileExists(trusting.QuarantineFolder() + L"\\" + Widen(Sha1Of("MZ signed")) + L".bin"));

    // A file where the quarantine's folder would go: the quarantine cannot be made, so nothing goes.
    std::wstring blocker = Dll(L"blocker", "not a folder");
    EXPECT_EQ(MendrelExitCode::QuarantineFailed, MendrelEngine(blocker + L"\\quarantine", &NeverTrusted).Run(dll));
    EXPECT_TRUE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_EQ(before, FakeService::SecurityAsSddl(service.KeyPath()));
    EXPECT_TRUE(NetsvcsNames::Lists(service.Name()));
    EXPECT_TRUE(FileExists(dll));

    std::wstring unused = Dll(L"unused.dll", "MZ");
    EXPECT_EQ(MendrelExitCode::NoMatchingService, MendrelEngine(quarantine_, &NeverTrusted).Run(unused));
    EXPECT_TRUE(FileExists(unused));
}

// A DLL nobody may read cannot have its signer checked: nothing is removed, and the reason is the exit
// code. One that is held without sharing its deletion is still read and copied, and goes at the next
// restart.
TEST_F(MendrelTest, ADllThatCannotBeReadIsNotRemovedOneHeldGoesAtRestart) {
    std::wstring dll = Dll(L"held.dll", "MZ held");
    FakeService service(stem_ + L"H", kNetsvcs, dll.c_str());
    NetsvcsNames names({service.Name()});
    FileHolderProcess holder(dll);
    ASSERT_TRUE(holder.Holding());

    MendrelEngine engine(quarantine_, &NeverTrusted);
    EXPECT_EQ(MendrelExitCode::SignatureUnchecked, engine.Run(dll));
    EXPECT_TRUE(FakeService::KeyExists(service.ParametersPath()));
    EXPECT_TRUE(NetsvcsNames::Lists(service.Name()));
    EXPECT_TRUE(FileExists(dll));
    EXPECT_EQ(std::string::npos, PendingRenames().find(Narrow(dll))) << PendingRenames();
    EXPECT_FALSE(FileExists(quarantine_ + L"\\manifest.txt"));

    holder.Release();
    HANDLE reader = CreateFileW(dll.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    EXPECT_EQ(MendrelExitCode::RemovedAfterRestart, engine.Run(dll));
    CloseHandle(reader);
    EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_TRUE(FileExists(quarantine_ + L"\\" + Widen(Sha1Of("MZ held")) + L".bin"));
    EXPECT_NE(std::string::npos, PendingRenames().find(Narrow(dll))) << PendingRenames();
}

// Only the engine's code and the key test together make a removal; every other code is kept, above 16.
// Manifest lines of every age: nine and ten columns (before kinds) are services; an unknown kind is no
// entry at all.
TEST_F(MendrelTest, OlderManifestLinesAreServicesAndAnUnknownKindIsSkipped) {
    QuarantineStore store(quarantine_);
    ASSERT_TRUE(store.Prepare());
    const std::string sha1(40, 'A');
    const std::string common = "\t" + sha1 + "\t5\t2011-04-05T06:07:08Z\tquarantined\t00000020\t" + sha1 + ".bin\t";
    WriteFileBytes(quarantine_ + L"\\manifest.txt",
                   "C:\\old.dll" + common + "old.reg\tOld\r\n" +
                   "C:\\ten.dll" + common + "ten.reg\tTen\t-\r\n" +
                   "AutoRun\t" + sha1 + "\t5\t2011-04-05T06:07:08Z\tquarantined\t00000000\t-\tauto.reg\t-\t-\t" +
                   "autorun\r\n" +
                   "C:\\odd.dll" + common + "odd.reg\tOdd\t-\tsomething\r\n");
    std::vector<QuarantineEntry> entries;
    ASSERT_TRUE(store.ReadEntries(entries));
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(L"service", entries[0].kind);
    EXPECT_EQ(L"Old", entries[0].services);
    EXPECT_EQ(L"service", entries[1].kind);
    EXPECT_EQ(L"autorun", entries[2].kind);
    EXPECT_EQ(L"auto.reg", entries[2].keysName);
}

// AutoRun off for good, its values kept first and put back exactly, absent ones included; a restore
// refuses once somebody else changed them, and nothing is done through a registry link.
TEST_F(MendrelTest, AutoRunIsTurnedOffAfterItsValuesAreKeptAndComesBackExactly) {
    AutoRunValuesGuard prefix;
    QuarantineStore store(quarantine_);
    const AutoRunValue absentMapping(kAutoRunMappingKey, nullptr);
    const AutoRunValue absentPolicy(kAutoRunPolicyKey, kAutoRunPolicyValue);
    const std::vector<std::vector<AutoRunValue>> starts = {
        {absentMapping, AutoRunDword(kAutoRunPolicyKey, kAutoRunPolicyValue, 0x91)},
        {AutoRunString(kAutoRunMappingKey, nullptr, L"@SYS:Elsewhere"), absentPolicy},
    };
    const std::vector<AutoRunValue> off = {AutoRunString(kAutoRunMappingKey, nullptr, L"@SYS:DoesNotExist"),
                                           AutoRunDword(kAutoRunPolicyKey, kAutoRunPolicyValue, 0xFF)};
    for (const std::vector<AutoRunValue>& start : starts) {
        for (const AutoRunValue& value : start) WriteAutoRunValue(value);
        ASSERT_TRUE(ReadAutoRunValues() == start);
        ASSERT_EQ(MendrelExitCode::Removed, AutoRunChange::TurnOff(store));
        EXPECT_TRUE(ReadAutoRunValues() == off);
        std::vector<QuarantineEntry> entries;
        ASSERT_TRUE(store.ReadEntries(entries));
        ASSERT_FALSE(entries.empty());
        const QuarantineEntry entry = entries.back();
        EXPECT_EQ(L"autorun", entry.kind);
        EXPECT_EQ(L"quarantined", entry.state);
        EXPECT_EQ(Widen(entry.sha1) + L".reg", entry.keysName);
        EXPECT_EQ(entry.sha1, Sha1Of(ReadFileBytes(quarantine_ + L"\\" + entry.keysName)));
        // Already off: nothing more is kept.
        EXPECT_EQ(MendrelExitCode::Removed, AutoRunChange::TurnOff(store));
        ASSERT_TRUE(store.ReadEntries(entries));
        EXPECT_EQ(entry.keysName, entries.back().keysName);

        std::vector<std::wstring> listed;
        ASSERT_EQ(MendrelExitCode::Listed, QuarantineCommands::List(store, listed));
        EXPECT_EQ(0u, listed.back().rfind(Widen(entry.sha1) + L"\tAutoRun\t-\t", 0)) << Narrow(listed.back());
        EXPECT_EQ(MendrelExitCode::Restored, QuarantineCommands::Restore(store, entry.sha1));
        EXPECT_TRUE(ReadAutoRunValues() == start);
        EXPECT_EQ(MendrelExitCode::NotQuarantined, QuarantineCommands::Restore(store, entry.sha1));
    }

    // Changed by somebody after it was turned off: the restore leaves their value alone.
    ASSERT_EQ(MendrelExitCode::Removed, AutoRunChange::TurnOff(store));
    std::vector<QuarantineEntry> entries;
    ASSERT_TRUE(store.ReadEntries(entries));
    const AutoRunValue theirs = AutoRunDword(kAutoRunPolicyKey, kAutoRunPolicyValue, 0x95);
    WriteAutoRunValue(theirs);
    EXPECT_EQ(MendrelExitCode::RestoreRefused, QuarantineCommands::Restore(store, entries.back().sha1));
    EXPECT_TRUE(ReadAutoRunValue(kAutoRunPolicyKey, kAutoRunPolicyValue) == theirs);
    // A saved file that is not what its id says is not restored.
    WriteAutoRunValue(off[1]);
    WriteFileBytes(quarantine_ + L"\\" + entries.back().keysName, "\xFF\xFEW\0");
    EXPECT_EQ(MendrelExitCode::QuarantineUnreadable, QuarantineCommands::Restore(store, entries.back().sha1));
    EXPECT_TRUE(ReadAutoRunValues() == off);

    // The mapping key a link to a key of the test's: refused, and the target keeps its values. (The
    // test's link is made in its own view, which is the native one only for a 64-bit test.)
    WriteAutoRunValue(absentMapping);
    if (NativeRegistryView() != 0) return;
    FakeService target(stem_ + L"T", L"target.exe", nullptr);
    const std::vector<RegFileKey> targetBefore = TreeOf(target.KeyPath());
    {
        FakeRegistryLink link(kAutoRunMappingKey, target.KeyPath());
        ASSERT_TRUE(link.Made());
        EXPECT_EQ(MendrelExitCode::AutoRunRefused, AutoRunChange::TurnOff(store));
    }
    EXPECT_TRUE(TreeOf(target.KeyPath()) == targetBefore) << "the link was followed";
}

TEST(MendrelOutcomeTest, TheEnginesCodeAndTheKeyTestTogetherGiveTheOutcome) {
    EXPECT_EQ(kPluginCleanDone, CleanOutcomeOfEngine(true, MendrelExitCode::Removed, true));
    EXPECT_EQ(kPluginCleanNeedsRestart, CleanOutcomeOfEngine(true, MendrelExitCode::RemovedAfterRestart, true));
    EXPECT_EQ(kPluginCleanDone, CleanOutcomeOfEngine(true, MendrelExitCode::NoMatchingService, true));
    EXPECT_EQ(16 + MendrelExitCode::PartlyFailed, CleanOutcomeOfEngine(true, MendrelExitCode::PartlyFailed, true));
    EXPECT_EQ(16 + MendrelExitCode::Removed, CleanOutcomeOfEngine(true, MendrelExitCode::Removed, false));
    EXPECT_EQ(16 + MendrelExitCode::RemovedAfterRestart,
              CleanOutcomeOfEngine(true, MendrelExitCode::RemovedAfterRestart, false));
    EXPECT_EQ(16 + MendrelExitCode::SignatureUnchecked, CleanOutcomeOfEngine(true, MendrelExitCode::SignatureUnchecked, false));
    EXPECT_EQ(kPluginCleanFailed, CleanOutcomeOfEngine(false, 0, true));
    // A code that would read as success once shifted stays a failure.
    EXPECT_EQ(kPluginCleanFailed, CleanOutcomeOfEngine(true, -16, true));
    EXPECT_EQ(kPluginCleanFailed, CleanOutcomeOfEngine(true, -14, false));
}

// grimlet.dll's side: the engine started by the fixed command line from a plugin folder; then the
// same program lists what it removed and puts it back.
TEST_F(MendrelTest, TheLaunchedEngineRemovesTheServiceAndTheKeyTestPassesAndItCanBeUndone) {
    std::wstring probe = Dll(L"probe.dll", "MZ unsigned");
    ASSERT_FALSE(IsSignedByTrustedSigner(probe));
    std::wstring exe = engineFolder_ + L"\\RunMendrel.exe";
    ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\RunMendrel.exe").c_str(), exe.c_str(), FALSE));
    const std::string bytes = "MZ launched worm " + Narrow(stem_);
    std::wstring dll = Dll(L"worm.dll", bytes);
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    const DWORD attributes = GetFileAttributesW(dll.c_str());
    FakeService service(stem_ + L"L", kNetsvcs, dll.c_str());
    // A chain deeper than a save holds: what can be saved is, and comes back; the rest is named.
    std::wstring deep = service.KeyPath() + L"\\Deep";
    for (int level = 0; level < 40; ++level) deep += L"\\d" + std::to_wstring(level);
    FakeService::SetString(deep, L"Bottom", L"x");
    std::vector<RegFileKey> saved;
    std::vector<std::wstring> gaps;
    EXPECT_FALSE(ReadRegistryTree(service.KeyPath(), saved, &gaps));
    ASSERT_EQ(1u, gaps.size());
    // The worm's key holds a link to a key that has nothing to do with it: the link goes, its target
    // keeps every value and subkey.
    const std::wstring victim = L"SYSTEM\\" + stem_ + L"Victim";
    FakeService::SetString(victim, L"Kept", L"victim value");
    FakeService::SetString(victim + L"\\Child", L"Also", L"kept");
    const std::wstring linkPath = service.KeyPath() + L"\\Elsewhere";
    FakeRegistryLink link(linkPath, victim);
    ASSERT_TRUE(link.Made());
    ASSERT_TRUE(FakeService::KeyExists(linkPath + L"\\Child")) << "the link leads to the victim";
    ASSERT_TRUE(FakeService::DenyEverybody(service.KeyPath()));
    NetsvcsNames names({service.Name()});
    ServiceEntry entry;
    entry.keyPath = service.KeyPath();
    entry.dllPath = dll;
    entry.unlocked = 1;

    EXPECT_EQ(kPluginCleanDone, RunMendrelForService(entry, engineFolder_));
    EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_FALSE(FakeRegistryLink::Exists(linkPath));
    EXPECT_FALSE(FileExists(dll));
    std::vector<RegFileKey> victimNow;
    ASSERT_TRUE(ReadRegistryTree(victim, victimNow));
    ASSERT_EQ(2u, victimNow.size());
    EXPECT_EQ(u"Kept", victimNow[0].values.at(0).name);
    EXPECT_EQ(u"Also", victimNow[1].values.at(0).name);
    FakeService::ForceDelete(victim);
    const std::string sha1 = Sha1Of(bytes);
    const std::wstring machine = MachineQuarantineFolder();
    const std::string manifest = MachineManifest();
    // The newest line of this path and SHA-1: an earlier run of the test may have used the same names.
    const std::size_t removal = manifest.rfind(Narrow(dll) + "\t" + sha1 + "\t");
    ASSERT_NE(std::string::npos, removal) << manifest;
    const std::string removalLine = manifest.substr(removal, manifest.find("\r\n", removal) + 2 - removal);
    EXPECT_NE(std::string::npos, removalLine.find(Narrow(gaps[0]))) << removalLine;
    EXPECT_NE(std::string::npos, removalLine.find("registry link: " + Narrow(linkPath) + " -> \\Registry\\Machine\\" +
                                                  Narrow(victim)))
        << removalLine;
    EXPECT_TRUE(FileExists(machine + L"\\" + Widen(sha1) + L".bin"));
    EXPECT_FALSE(DirectoryExists(engineFolder_ + L"\\quarantine"));
    ExpectQuarantineOpenToAdministratorsAndSystemOnly(machine);

    std::string listing;
    EXPECT_EQ(MendrelExitCode::Listed, RunProgram(exe, L"-list", scratch_.Path(), 60000, &listing));
    const std::string ours = sha1 + "\t" + Narrow(dll) + "\t" + Narrow(service.Name()) + "\t";
    EXPECT_NE(std::string::npos, listing.find(ours)) << listing;
    // A forged line naming another path changes nothing.
    const std::wstring planted = scratch_ / L"planted.dll";
    std::string forged = removalLine;
    forged.replace(0, Narrow(dll).size(), Narrow(planted));
    const std::wstring manifestPath = machine + L"\\manifest.txt";
    WriteFileBytes(manifestPath, MachineManifest() + forged);
    EXPECT_EQ(MendrelExitCode::QuarantineUnreadable, RunProgram(exe, L"-restore=" + Widen(sha1), scratch_.Path()));
    EXPECT_FALSE(FileExists(planted));
    EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
    WriteFileBytes(manifestPath, MachineManifest() + removalLine);
    EXPECT_EQ(MendrelExitCode::Restored, RunProgram(exe, L"-restore=" + Widen(sha1), scratch_.Path()));
    EXPECT_EQ(bytes, ReadFileBytes(dll));
    EXPECT_EQ(attributes, GetFileAttributesW(dll.c_str()));
    EXPECT_TRUE(saved == TreeOf(service.KeyPath()));
    EXPECT_TRUE(NetsvcsNames::Lists(service.Name()));
    EXPECT_EQ(MendrelExitCode::NotQuarantined, RunProgram(exe, L"-restore=" + Widen(sha1), scratch_.Path()));
    EXPECT_EQ(MendrelExitCode::BadCommandLine, RunProgram(exe, L"-restore=" + Widen(sha1) + L"0", scratch_.Path()));
    EXPECT_EQ(MendrelExitCode::Listed, RunProgram(exe, L"-list", scratch_.Path(), 60000, &listing));
    std::size_t line = listing.find(ours);
    ASSERT_NE(std::string::npos, line) << listing;
    EXPECT_NE(std::string::npos, listing.find("\trestored\r\n", line)) << listing;
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(MendrelTest, WithoutTheEngineTheServiceFindingFails) {
    std::wstring dll = Dll(L"worm.dll", "MZ");
    FakeService service(stem_ + L"M", kNetsvcs, dll.c_str());
    ServiceEntry entry;
    entry.keyPath = service.KeyPath();
    entry.dllPath = dll;
    EXPECT_EQ(kPluginCleanFailed, RunMendrelForService(entry, engineFolder_));
    EXPECT_TRUE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_EQ(kPluginCleanFailed, RunMendrelForService(entry, std::wstring()));
    // A key gone without an engine run says nothing about the DLL.
    entry.keyPath += L"Gone";
    EXPECT_EQ(kPluginCleanFailed, RunMendrelForService(entry, engineFolder_));

    EXPECT_EQ(L"\"C:\\w\\plugin\\RunMendrel\" -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. "
              L"-GCPATH=\"C:\\WINDOWS\\system32\\x.dll\"",
              BuildMendrelCommandLine(L"C:\\w\\plugin", L"C:\\WINDOWS\\system32\\x.dll"));
    EXPECT_EQ(L"", BuildMendrelCommandLine(std::wstring(1500, L'f'), std::wstring(600, L'd')));
    // The code lives in this test program here, in grimlet.dll in the product.
    EXPECT_EQ(ThisProgramFolder(), EngineFolder());
}

TEST_F(MendrelTest, TheEngineRefusesAnyOtherCommandLine) {
    std::wstring exe = engineFolder_ + L"\\RunMendrel.exe";
    ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\RunMendrel.exe").c_str(), exe.c_str(), FALSE));
    std::wstring dll = Dll(L"worm.dll", "MZ");
    FakeService service(stem_ + L"R", kNetsvcs, dll.c_str());
    const std::wstring bad[] = {
        L"-assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET.",
        L"-assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"worm.dll\"",
        L"-assign=SOMETHING. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"" + dll + L"\"",
    };
    for (const std::wstring& arguments : bad) {
        EXPECT_EQ(MendrelExitCode::BadCommandLine, RunProgram(exe, arguments, scratch_.Path())) << Narrow(arguments);
        EXPECT_TRUE(FakeService::KeyExists(service.KeyPath()));
        EXPECT_TRUE(FileExists(dll));
    }
    EXPECT_FALSE(DirectoryExists(engineFolder_ + L"\\quarantine"));
    EXPECT_EQ(std::string::npos, MachineManifest().find(Narrow(dll) + "\t"));
}

}  // namespace
