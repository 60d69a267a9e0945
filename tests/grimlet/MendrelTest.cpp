// The cleanup engine: its command line, its hash, the netsvcs list edit, the removal run in-process with
// a stand-in signer test, and RunMendrel.exe started the way grimlet.dll starts it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "grimlet/MendrelLauncher.h"
#include "grimlet/TrustedSigner.h"
#include "grimlet/mendrel/MendrelCommandLine.h"
#include "grimlet/mendrel/MendrelEngine.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/mendrel/NetsvcsGroupList.h"
#include "grimlet/mendrel/Sha1.h"
#include "tests/grimlet/FakeService.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kNetsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";
const wchar_t kSvcHost[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SvcHost";
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

bool NeverTrusted(const std::wstring&) { return false; }
bool AlwaysTrusted(const std::wstring&) { return true; }

std::string Sha1Of(const std::string& bytes) {
    Sha1 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.HexDigest();
}

REGSAM NativeView() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 ? KEY_WOW64_64KEY : 0;
}

// Adds names to the netsvcs list for a test and takes them out again.
class NetsvcsNames {
public:
    explicit NetsvcsNames(std::vector<std::wstring> names) : names_(std::move(names)) {
        std::vector<wchar_t> data;
        for (const std::wstring& item : NetsvcsGroupList::Read()) {
            data.insert(data.end(), item.begin(), item.end());
            data.push_back(L'\0');
        }
        for (const std::wstring& name : names_) {
            data.insert(data.end(), name.begin(), name.end());
            data.push_back(L'\0');
        }
        data.push_back(L'\0');
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSvcHost, 0, nullptr, 0, KEY_SET_VALUE | NativeView(), nullptr, &key,
                        nullptr);
        RegSetValueExW(key, L"netsvcs", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size() * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    ~NetsvcsNames() {
        for (const std::wstring& name : names_) NetsvcsGroupList::Remove(name);
    }
    static bool Lists(const std::wstring& name) {
        for (const std::wstring& item : NetsvcsGroupList::Read())
            if (item == name) return true;
        return false;
    }

private:
    std::vector<std::wstring> names_;
};

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
    };
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
    Sha1 million;
    std::string chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i) million.Update(chunk.data(), chunk.size());
    EXPECT_EQ("34AA973CD4C4DAA4F61EEB2BDBAD27316534016F", million.HexDigest());

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

TEST_F(MendrelTest, RemovesEveryServiceOfTheDllAfterQuarantiningIt) {
    const std::string bytes = "MZ worm body";
    std::wstring dll = Dll(L"worm.dll", bytes);
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService first(stem_ + L"A", kNetsvcs, dll.c_str());
    FakeService second(stem_ + L"B", L"C:\\WINDOWS\\System32\\SVCHOST.EXE -k NetSvcs", nullptr);
    FakeService::SetString(second.ParametersPath(), L"ServiceDll", dll.substr(0, 3) + L"." + dll.substr(2));
    FakeService bystander(stem_ + L"C", L"svchost.exe -k LocalService", dll.c_str());
    ASSERT_TRUE(FakeService::DenyEverybody(first.KeyPath()));
    ASSERT_TRUE(FakeService::DenyEverybody(second.ParametersPath()));
    NetsvcsNames names({first.Name(), second.Name(), bystander.Name()});

    MendrelEngine engine(engineFolder_, &NeverTrusted);
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
}

TEST_F(MendrelTest, ChangesNothingForATrustedDllOrWithoutAMatchingService) {
    std::wstring dll = Dll(L"system.dll", "MZ signed");
    FakeService service(stem_ + L"T", kNetsvcs, dll.c_str());
    ASSERT_TRUE(FakeService::DenyEverybody(service.KeyPath()));
    std::wstring before = FakeService::SecurityAsSddl(service.KeyPath());
    NetsvcsNames names({service.Name()});

    MendrelEngine trusting(engineFolder_, &AlwaysTrusted);
    EXPECT_EQ(MendrelExitCode::TrustedSigner, trusting.Run(dll));
    EXPECT_TRUE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_EQ(before, FakeService::SecurityAsSddl(service.KeyPath()));
    EXPECT_TRUE(NetsvcsNames::Lists(service.Name()));
    EXPECT_TRUE(FileExists(dll));
    EXPECT_FALSE(FileExists(trusting.QuarantineFolder() + L"\\manifest.txt"));
    EXPECT_FALSE(FileExists(trusting.QuarantineFolder() + L"\\" + Widen(Sha1Of("MZ signed")) + L".bin"));

    std::wstring unused = Dll(L"unused.dll", "MZ");
    EXPECT_EQ(MendrelExitCode::NoMatchingService, MendrelEngine(engineFolder_, &NeverTrusted).Run(unused));
    EXPECT_TRUE(FileExists(unused));
}

TEST_F(MendrelTest, ADllHeldOpenGoesAtTheNextRestart) {
    std::wstring dll = Dll(L"held.dll", "MZ held");
    FakeService service(stem_ + L"H", kNetsvcs, dll.c_str());
    NetsvcsNames names({service.Name()});
    FileHolderProcess holder(dll);
    ASSERT_TRUE(holder.Holding());

    MendrelEngine engine(engineFolder_, &NeverTrusted);
    EXPECT_EQ(MendrelExitCode::RemovedAfterRestart, engine.Run(dll));
    EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_FALSE(NetsvcsNames::Lists(service.Name()));
    EXPECT_TRUE(FileExists(dll)) << "nothing that was not copied may be deleted";
    EXPECT_NE(std::string::npos, PendingRenames().find(Narrow(dll))) << PendingRenames();
    std::string manifest = ReadFileBytes(engine.QuarantineFolder() + L"\\manifest.txt");
    EXPECT_NE(std::string::npos, manifest.find(Narrow(dll) + ".quarantine")) << manifest;
}

// grimlet.dll's side: the engine started by the fixed command line from a plugin folder.
TEST_F(MendrelTest, TheLaunchedEngineRemovesTheServiceAndTheKeyTestPasses) {
    std::wstring probe = Dll(L"probe.dll", "MZ unsigned");
    ASSERT_FALSE(IsSignedByTrustedSigner(probe));
    std::wstring exe = engineFolder_ + L"\\RunMendrel.exe";
    ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\RunMendrel.exe").c_str(), exe.c_str(), FALSE));
    std::wstring dll = Dll(L"worm.dll", "MZ launched worm");
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService service(stem_ + L"L", kNetsvcs, dll.c_str());
    ASSERT_TRUE(FakeService::DenyEverybody(service.KeyPath()));
    NetsvcsNames names({service.Name()});
    ServiceEntry entry;
    entry.keyPath = service.KeyPath();
    entry.dllPath = dll;
    entry.unlocked = 1;

    EXPECT_TRUE(RunMendrelForService(entry, engineFolder_));
    EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_FALSE(FileExists(dll));
    EXPECT_TRUE(FileExists(engineFolder_ + L"\\quarantine\\" + Widen(Sha1Of("MZ launched worm")) + L".bin"));
}

TEST_F(MendrelTest, WithoutTheEngineTheServiceFindingFails) {
    std::wstring dll = Dll(L"worm.dll", "MZ");
    FakeService service(stem_ + L"M", kNetsvcs, dll.c_str());
    ServiceEntry entry;
    entry.keyPath = service.KeyPath();
    entry.dllPath = dll;
    EXPECT_FALSE(RunMendrelForService(entry, engineFolder_));
    EXPECT_TRUE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_FALSE(RunMendrelForService(entry, std::wstring()));
    entry.keyPath += L"Gone";
    EXPECT_TRUE(RunMendrelForService(entry, engineFolder_));

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
}

}  // namespace
