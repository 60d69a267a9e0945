// A whole scan and clean through the scan controller with the real grimlet.dll (the shipped build on
// the i686 tier) over fake worm services and a fake worm's threads: every threat reaches the page with
// ids 0, 1, 2, ..., and a clean reports 1 for what was removed and 2 for what could not be.
#include <gtest/gtest.h>

#include <numeric>

#include "engine/SKScanManager.h"
#include "engine/ScanController.h"
#include "platform/system/SKEnvironment.h"
#include "tests/engine/RecordingUi.h"
#include "tests/support/FakeService.h"
#include "tests/support/FixtureProcess.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kNetsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
        stem_ = UniqueServiceStem(L"Engine");
        plugin_ = work_ / L"plugin";
        CreateDirectoryW(plugin_.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\grimlet.dll").c_str(), (plugin_ + L"\\grimlet.dll").c_str(),
                              FALSE));
        SKEnvironment::Instance()->SetBaseFolder(work_.Path());
    }
    void AddEngine() {
        ASSERT_TRUE(CopyFileW((ProductFolder() + L"\\RunMendrel.exe").c_str(),
                              (plugin_ + L"\\RunMendrel.exe").c_str(), FALSE));
    }
    std::wstring Dll(const std::wstring& name) {
        const std::wstring path = work_ / name;
        WriteFileBytes(path, "MZ fake worm " + Narrow(name));
        return path;
    }
    // The rows that name this test's services, in the order the page got them.
    std::vector<FoundItemRecord> Ours(const RecordingUi& ui) const {
        std::vector<FoundItemRecord> ours;
        for (const auto& found : ui.found)
            if (found.description.find(stem_) != std::wstring::npos) ours.push_back(found);
        return ours;
    }
    static std::wstring Row(const FakeService& service, const std::wstring& dll) {
        return L"服务:[" + service.KeyPath() + L"] 文件:[" + dll + L"]";
    }
    static void ExpectIdsCountFromZero(const RecordingUi& ui) {
        std::vector<int32_t> expected(ui.found.size());
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(expected, ui.FoundIds());
    }

    ScratchFolder work_{L"e2ework"};
    std::wstring stem_;
    std::wstring plugin_;
};

}  // namespace

TEST_F(EndToEnd, TheRealPluginFindsTheFakeWormServicesAndTheCleanRemovesTheChosenOnes) {
    AddEngine();
    const std::wstring denied = Dll(L"denied.dll");
    const std::wstring hidden = Dll(L"hidden.dll");
    const std::wstring readable = Dll(L"readable.dll");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService deniedService(stem_ + L"1Denied", kNetsvcs, denied.c_str());
    FakeService hiddenService(stem_ + L"2Hidden", kNetsvcs, hidden.c_str());
    FakeService readableService(stem_ + L"3Readable", kNetsvcs, readable.c_str());
    NetsvcsListing listing({deniedService.Name()});
    ASSERT_TRUE(FakeService::DenyEverybody(deniedService.KeyPath()));

    RecordingUi ui;
    ScanController controller;
    ASSERT_TRUE(controller.Initialize(&ui));
    controller.GetScanManager()->Scan();

    ExpectIdsCountFromZero(ui);
    const auto ours = Ours(ui);
    ASSERT_EQ(2u, ours.size());
    EXPECT_EQ(Row(deniedService, denied), ours[0].description);
    EXPECT_EQ(Row(hiddenService, hidden), ours[1].description);
    EXPECT_EQ(L"GRIMLET服务(隐藏注册表):", ours[0].threatName);
    EXPECT_LT(ours[0].itemId, ours[1].itemId);

    controller.Clean({ours[1].itemId, ours[0].itemId});

    EXPECT_EQ(1, ui.OutcomeOf(ours[0].itemId));
    EXPECT_EQ(1, ui.OutcomeOf(ours[1].itemId));
    EXPECT_EQ(2u, ui.outcomes.size());
    EXPECT_FALSE(FakeService::KeyExists(deniedService.KeyPath()));
    EXPECT_FALSE(FakeService::KeyExists(hiddenService.KeyPath()));
    EXPECT_TRUE(FakeService::KeyExists(readableService.KeyPath()));
    EXPECT_FALSE(FileExists(hidden));
    controller.Deinitialize();
}

TEST_F(EndToEnd, WithoutTheCleanupEngineTheCleanReportsFailureAndTheServiceStays) {
    const std::wstring hidden = Dll(L"hidden.dll");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    FakeService service(stem_ + L"NoEngine", kNetsvcs, hidden.c_str());

    RecordingUi ui;
    ScanController controller;
    ASSERT_TRUE(controller.Initialize(&ui));
    controller.GetScanManager()->Scan();

    ExpectIdsCountFromZero(ui);
    const auto ours = Ours(ui);
    ASSERT_EQ(1u, ours.size());
    EXPECT_EQ(Row(service, hidden), ours[0].description);
    controller.Clean({ours[0].itemId});
    EXPECT_EQ(2, ui.OutcomeOf(ours[0].itemId));
    EXPECT_TRUE(FakeService::KeyExists(service.KeyPath()));
    EXPECT_TRUE(FileExists(hidden));
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
    controller.Deinitialize();
}

TEST_F(EndToEnd, TheRealPluginFindsTheFakeWormsThreadsAndTheCleanEndsThemAlone) {
    grimlettest::FakeWorm worm(work_ / L"host", L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());

    RecordingUi ui;
    ScanController controller;
    ASSERT_TRUE(controller.Initialize(&ui));
    controller.GetScanManager()->Scan();

    ExpectIdsCountFromZero(ui);
    std::vector<FoundItemRecord> threads;
    for (const auto& found : ui.found)
        if (found.threatName == L"GRIMLET线程:") threads.push_back(found);
    ASSERT_EQ(1u, threads.size()) << "one row for both foreign threads";
    EXPECT_EQ(L"由病毒创建的恶意线程", threads[0].description);

    controller.Clean({threads[0].itemId});
    EXPECT_EQ(1, ui.OutcomeOf(threads[0].itemId));
    EXPECT_TRUE(grimlettest::WaitForThreadsToEnd(worm.Threads().foreign));
    for (DWORD id : worm.Threads().own) EXPECT_TRUE(grimlettest::ThreadRunning(id)) << "the module's own thread";
    EXPECT_TRUE(worm.Process().Running());
    controller.Deinitialize();
}
