// The real grimlet.dll (the shipped build on the i686 tier) with RunMendrel.exe beside it in a plugin
// folder, driven through the plug-in contract: the scan reports each fake worm service in order and
// leaves denying keys as they were; the clean runs the engine and reports 0 when the key is gone, 1
// when no engine could run. The engine keeps what it removed in the machine's quarantine.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "grimlet/mendrel/QuarantineStore.h"
#include "tests/plugin/TestPluginHost.h"
#include "tests/support/FakeService.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TrustedTestRoot.h"

using namespace testsupport;
using namespace testhost;

namespace {

const wchar_t kNetsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";

std::string MachineManifest() { return ReadFileBytes(MachineQuarantineFolder() + L"\\manifest.txt"); }

// The start line of each engine run, which carries its command line.
std::vector<std::string> RunStartLines(const std::string& log) {
    std::vector<std::string> starts;
    for (const std::string& line : SplitLines(log))
        if (line.find("LOG START =====") != std::string::npos) starts.push_back(line);
    return starts;
}

class WormServiceClean : public ::testing::Test {
protected:
    void SetUp() override {
        EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
        stem_ = UniqueServiceStem(Widen(::testing::UnitTest::GetInstance()->current_test_info()->name()).substr(0, 10).c_str());
        plugin_ = scratch_ / L"plugin";
        CreateDirectoryW(plugin_.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(GrimletDllPath().c_str(), (plugin_ + L"\\grimlet.dll").c_str(), FALSE));
    }
    void LoadPlugin() {
        dll_.reset(new PluginDll(plugin_ + L"\\grimlet.dll"));
        ASSERT_NE(dll_->Module(), nullptr);
        ASSERT_EQ(1, dll_->Factory()(&host_));
        handler_ = host_.GeneralHandler();
        handler_->SetReporter(&reporter_);
    }
    void TearDown() override {
        host_.ReleaseHandlers();
        dll_.reset();
    }
    std::wstring Dll(const std::wstring& name) {
        std::wstring path = scratch_ / name;
        WriteFileBytes(path, "MZ fake worm " + Narrow(name));
        return path;
    }
    // Ids of the findings about this test's services, in report order.
    std::vector<int> OurFindings() const {
        std::vector<int> ids;
        for (const auto& found : reporter_.found)
            if (found.name.find(stem_) != std::wstring::npos) ids.push_back(found.id);
        return ids;
    }

    ScratchFolder scratch_{L"wormclean"};
    std::wstring stem_;
    std::wstring plugin_;
    std::unique_ptr<PluginDll> dll_;
    TestPluginHelper host_;
    TestPluginReporter reporter_;
    IPluginGeneralHandler* handler_ = nullptr;
};

TEST_F(WormServiceClean, ScanReportsTheWormServicesAndCleanRemovesThem) {
    DebugLevelValue level(0x2200007F);
    ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\RunMendrel.exe").c_str(), (plugin_ + L"\\RunMendrel.exe").c_str(),
                          FALSE));
    std::wstring denied = Dll(L"denied.dll");
    std::wstring hidden = Dll(L"hidden.dll");
    std::wstring readable = Dll(L"readable.dll");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService deniedService(stem_ + L"1Denied", kNetsvcs, denied.c_str());
    FakeService hiddenService(stem_ + L"2Hidden", kNetsvcs, hidden.c_str());
    FakeService readableService(stem_ + L"3Readable", kNetsvcs, readable.c_str());
    NetsvcsListing listing({deniedService.Name()});
    ASSERT_TRUE(FakeService::DenyEverybody(deniedService.KeyPath()));
    std::wstring before = FakeService::SecurityAsSddl(deniedService.KeyPath());

    LoadPlugin();
    handler_->Scan();
    std::vector<int> ids = OurFindings();
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ(L"服务:[" + deniedService.KeyPath() + L"] 文件:[" + denied + L"]", reporter_.found[ids[0]].name);
    EXPECT_EQ(L"服务:[" + hiddenService.KeyPath() + L"] 文件:[" + hidden + L"]", reporter_.found[ids[1]].name);
    EXPECT_EQ(L"GRIMLET服务(隐藏注册表):", reporter_.found[ids[0]].threatName);
    EXPECT_LT(ids[0], ids[1]);
    EXPECT_EQ(before, FakeService::SecurityAsSddl(deniedService.KeyPath()));

    handler_->Clean(ids.data(), static_cast<unsigned>(ids.size()));
    ASSERT_EQ(2u, reporter_.cleaned.size());
    EXPECT_EQ(0, reporter_.cleaned[0].outcome);
    EXPECT_EQ(0, reporter_.cleaned[1].outcome);
    EXPECT_FALSE(FakeService::KeyExists(deniedService.KeyPath()));
    EXPECT_FALSE(FakeService::KeyExists(hiddenService.KeyPath()));
    EXPECT_TRUE(FakeService::KeyExists(readableService.KeyPath()));
    EXPECT_FALSE(FileExists(denied));
    EXPECT_FALSE(FileExists(hidden));
    EXPECT_TRUE(FileExists(readable));
    const std::string manifest = MachineManifest();
    EXPECT_NE(std::string::npos, manifest.find(Narrow(denied) + "\t")) << manifest;
    EXPECT_NE(std::string::npos, manifest.find(Narrow(hidden) + "\t")) << manifest;
    EXPECT_FALSE(DirectoryExists(plugin_ + L"\\quarantine"));
    // One clean, two engine runs: the log keeps both, each from its command line on.
    std::vector<std::string> starts = RunStartLines(ReadFileBytes(plugin_ + L"\\RunMendrel.log"));
    ASSERT_EQ(2u, starts.size());
    EXPECT_NE(std::string::npos, starts[0].find("-GCPATH=\"" + Narrow(denied, CP_ACP) + "\"")) << starts[0];
    EXPECT_NE(std::string::npos, starts[1].find("-GCPATH=\"" + Narrow(hidden, CP_ACP) + "\"")) << starts[1];
}

TEST_F(WormServiceClean, WithoutTheEngineTheFindingIsNotRemoved) {
    std::wstring hidden = Dll(L"hidden.dll");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService service(stem_ + L"NoEngine", kNetsvcs, hidden.c_str());

    LoadPlugin();
    handler_->Scan();
    std::vector<int> ids = OurFindings();
    ASSERT_EQ(1u, ids.size());
    handler_->Clean(ids.data(), 1);
    ASSERT_EQ(1u, reporter_.cleaned.size());
    EXPECT_EQ(1, reporter_.cleaned[0].outcome);
    EXPECT_TRUE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_TRUE(FileExists(hidden));
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A DLL signed by a listed publisher: the scan passes it over even behind a denying key, and the engine,
// asked directly, refuses and changes nothing.
TEST_F(WormServiceClean, ADllOfATrustedSignerIsNeitherReportedNorRemoved) {
    TrustedTestRoot root;
    ASSERT_TRUE(root.Added());
    std::wstring engine = plugin_ + L"\\RunMendrel.exe";
    ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\RunMendrel.exe").c_str(), engine.c_str(), FALSE));
    std::wstring signedDll = scratch_ / L"signed.dll";
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\signer\\trusted.dll").c_str(), signedDll.c_str(), FALSE));
    SetFileAttributesW(signedDll.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService service(stem_ + L"Signed", kNetsvcs, signedDll.c_str());
    NetsvcsListing listing({service.Name()});
    ASSERT_TRUE(FakeService::DenyEverybody(service.KeyPath()));
    std::wstring before = FakeService::SecurityAsSddl(service.KeyPath());

    LoadPlugin();
    handler_->Scan();
    EXPECT_TRUE(OurFindings().empty());

    EXPECT_EQ(4, RunProgram(engine, L"-assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"" + signedDll + L"\"",
                            plugin_));
    EXPECT_TRUE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_EQ(before, FakeService::SecurityAsSddl(service.KeyPath()));
    EXPECT_TRUE(FileExists(signedDll));
    EXPECT_EQ(std::string::npos, MachineManifest().find(Narrow(signedDll) + "\t"));
    SetFileAttributesW(signedDll.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// On 64-bit Windows the netsvcs host loads its DLL from the native System32; the 32-bit plug-in is shown
// SysWOW64 under that name. There a namesake signed by a listed publisher, neither hidden nor read-only,
// must not hide the worm's DLL, and the engine must remove the worm's DLL and leave the namesake.
TEST_F(WormServiceClean, TheDllInTheNativeSystemFolderIsReportedAndRemovedNotItsNamesake) {
    TrustedTestRoot root;
    ASSERT_TRUE(root.Added());
    ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\RunMendrel.exe").c_str(), (plugin_ + L"\\RunMendrel.exe").c_str(),
                          FALSE));
    const std::wstring name = stem_ + L".dll";
    const std::string signedBytes = ReadFileBytes(BinFolder() + L"\\signer\\trusted.dll");
    ASSERT_FALSE(signedBytes.empty());
    SystemFolderFile worm(SystemFolderFile::kNativeSystem32, name, "MZ fake worm in the native folder",
                          FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    SystemFolderFile namesake(SystemFolderFile::kSysWow64, name, signedBytes);
    ASSERT_TRUE(worm.Written() && namesake.Written());
    FakeService service(stem_ + L"Native", kNetsvcs, SystemFolderFile::RegistryPath(name).c_str());
    // The namesake itself is trusted: a service that names it directly is passed over.
    FakeService control(stem_ + L"Namesake", kNetsvcs, namesake.Path().c_str());
    SetFileAttributesW(namesake.Path().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);

    LoadPlugin();
    handler_->Scan();
    SetFileAttributesW(namesake.Path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::vector<int> ids = OurFindings();
    ASSERT_EQ(1u, ids.size());
    // Shown as the registry names it, not as the folder the plug-in read it through.
    EXPECT_EQ(L"服务:[" + service.KeyPath() + L"] 文件:[" + SystemFolderFile::ExpandedPath(name) + L"]",
              reporter_.found[ids[0]].name);

    handler_->Clean(ids.data(), 1);
    ASSERT_EQ(1u, reporter_.cleaned.size());
    EXPECT_EQ(0, reporter_.cleaned[0].outcome);
    EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_FALSE(worm.Exists());
    EXPECT_TRUE(namesake.Exists());
    EXPECT_EQ(signedBytes, namesake.Bytes());
    EXPECT_TRUE(FakeService::KeyExists(control.KeyPath()));
}

TEST_F(WormServiceClean, TheEngineLogsEachActionWhenTheLogIsOn) {
    DebugLevelValue level(0x2200007F);
    std::wstring engine = plugin_ + L"\\RunMendrel.exe";
    ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\RunMendrel.exe").c_str(), engine.c_str(), FALSE));
    std::wstring hidden = Dll(L"hidden.dll");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService service(stem_ + L"Logged", kNetsvcs, hidden.c_str());

    EXPECT_EQ(2, RunProgram(engine, L"-assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET.", plugin_));
    std::string log = ReadFileBytes(plugin_ + L"\\RunMendrel.log");
    EXPECT_NE(std::string::npos, log.find("Refused: missing one of")) << log;

    EXPECT_EQ(0, RunProgram(engine, L"-assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET. -GCPATH=\"" + hidden + L"\"",
                            plugin_));
    log = ReadFileBytes(plugin_ + L"\\RunMendrel.log");
    const std::string expected[] = {"Service " + Narrow(service.Name(), CP_ACP) + " uses",
                                    "Quarantined " + Narrow(hidden, CP_ACP),
                                    "Deleted key " + Narrow(service.ParametersPath(), CP_ACP),
                                    "Deleted key " + Narrow(service.KeyPath(), CP_ACP),
                                    "Deleted " + Narrow(hidden, CP_ACP), "ends with 0"};
    for (const std::string& line : expected) EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
    EXPECT_FALSE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_NE(std::string::npos, log.find("Refused: missing one of")) << "the first run's lines are kept";
    std::vector<std::string> starts = RunStartLines(log);
    ASSERT_EQ(2u, starts.size());
    EXPECT_NE(std::string::npos, starts[0].find("RunMendrel.exe\" -assign=WORM_GRIMLET. -GC -GCNAME=WORM_GRIMLET.")) << starts[0];
    EXPECT_EQ(std::string::npos, starts[0].find("-GCPATH")) << starts[0];
    EXPECT_NE(std::string::npos, starts[1].find("-GCPATH=\"" + Narrow(hidden, CP_ACP) + "\"")) << starts[1];
}

}  // namespace
