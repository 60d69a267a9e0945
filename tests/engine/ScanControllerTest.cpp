// The scan controller with real plug-in DLLs: build, wiring, a scan, a clean, the release.
#include <gtest/gtest.h>

#include "engine/SKScanManager.h"
#include "engine/ScanController.h"
#include "platform/system/SKEnvironment.h"
#include "plugin_host/SKItemManager.h"
#include "plugin_host/SKPluginManager.h"
#include "tests/engine/RecordingUi.h"
#include "tests/plugin_host/PluginEventLog.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestSupport.h"

namespace {

const char kLogName[] = "scan_controller_test.log";

// A work folder with a "plugin" folder holding copies of chosen test plug-ins; the environment's
// base folder points at it for the test.
class WorkFolder {
public:
    WorkFolder() : scratch_(L"work") {
        CreateDirectoryW(PluginFolder().c_str(), nullptr);
        SKEnvironment::Instance()->SetBaseFolder(scratch_.Path());
        pluginevents::Clear();
    }
    std::wstring PluginFolder() const { return scratch_ / L"plugin"; }
    bool AddPlugin(const std::wstring& fixture) {
        const std::wstring from = testsupport::BinFolder() + L"\\" + fixture + L".dll";
        const std::wstring to = PluginFolder() + L"\\" + fixture + L".dll";
        return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
    }

private:
    testsupport::ScratchFolder scratch_;
};

}  // namespace

TEST(ScanController, ScansWithAPluginAndCleansTheChosenItems) {
    WorkFolder work;
    ASSERT_TRUE(work.AddPlugin(L"tp_general_findings"));
    RecordingUi ui;
    {
        ScanController controller;
        ASSERT_TRUE(controller.Initialize(&ui));
        controller.GetScanManager()->Scan();

        ASSERT_EQ((std::vector<int32_t>{0, 1, 2}), ui.FoundIds());
        EXPECT_EQ(L"Test.FINDER", ui.found[0].threatName);
        EXPECT_EQ(L"FINDER item 0", ui.found[0].description);
        EXPECT_EQ(L"FINDER item 2", ui.found[2].description);

        controller.Clean({2, 0, 1});
        EXPECT_EQ(1, ui.OutcomeOf(0));
        EXPECT_EQ(2, ui.OutcomeOf(1));  // the plug-in fails found id 1
        EXPECT_EQ(1, ui.OutcomeOf(2));
        // All of the handler's chosen items in one call, in item order.
        EXPECT_EQ(1u, pluginevents::Count(L"FINDER", L"Clean 0 1 2"));
        controller.Deinitialize();
        EXPECT_EQ(nullptr, controller.GetScanManager());
    }
    const auto events = pluginevents::Of(L"FINDER");
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(L"Release", events[events.size() - 2]);
    EXPECT_EQ(L"Unloaded", events.back());
    EXPECT_EQ(0, SKEnvironment::Instance()->SetupCount());
}

TEST(ScanController, OnlyChosenItemsAreCleanedAndAnUnknownIdIsLoggedOnce) {
    LogCapture log(kLogName);
    WorkFolder work;
    ASSERT_TRUE(work.AddPlugin(L"tp_general_findings"));
    RecordingUi ui;
    ScanController controller;
    ASSERT_TRUE(controller.Initialize(&ui));
    controller.GetScanManager()->Scan();

    controller.Clean({});
    EXPECT_TRUE(ui.outcomes.empty());
    EXPECT_EQ(0u, log.Count("SKCleanManager::Clean()"));

    controller.Clean({2, 77});
    EXPECT_EQ(1u, log.Count("ScanController::Clean() cannot find result(77); possible data corruption"));
    EXPECT_EQ(1u, pluginevents::Count(L"FINDER", L"Clean 2"));
    ASSERT_EQ(1u, ui.outcomes.size());
    EXPECT_EQ(1, ui.OutcomeOf(2));
    controller.Deinitialize();
}

TEST(ScanController, WithoutPluginsInitializeSucceedsAndTheScanFindsNothing) {
    LogCapture log(kLogName);
    WorkFolder work;
    RecordingUi ui;
    ScanController controller;
    ASSERT_TRUE(controller.Initialize(&ui));
    controller.GetScanManager()->Scan();
    EXPECT_TRUE(ui.found.empty());
    EXPECT_EQ(1u, log.Count("no file scanner; skip file enumeration"));
    EXPECT_EQ(1u, log.Count("ScanController::Initialize()"));
    controller.Deinitialize();
    controller.Deinitialize();
    EXPECT_EQ(0, SKEnvironment::Instance()->SetupCount());
}

TEST(ScanController, FileHandlersAreWiredAsFileCleanersAndPreGeneralHandlersNotAtAll) {
    WorkFolder work;
    ASSERT_TRUE(work.AddPlugin(L"tp_file_restart"));
    ASSERT_TRUE(work.AddPlugin(L"tp_pre_general"));
    RecordingUi ui;
    ScanController controller;
    ASSERT_TRUE(controller.Initialize(&ui));
    EXPECT_EQ(2, controller.GetPluginManager()->PluginCount());

    // A file item as a file scan of this handler leaves it, cleaned without scanning whole drives.
    ScanResult file;
    file.itemType = ItemType::File;
    file.name = L"C:\\evil.exe";
    file.handlerName = L"FILEGUARD";
    file.threatClass = L"Virus";
    file.severity = 4;
    const int32_t id = controller.GetItemManager()->FileResult(file);
    controller.Clean({id});

    EXPECT_EQ(1u, pluginevents::Count(L"FILEGUARD", L"CleanFile C:\\evil.exe"));
    EXPECT_EQ(3, ui.OutcomeOf(id));
    EXPECT_EQ(0u, pluginevents::Count(L"PRE", L"Scan"));
    controller.Deinitialize();
}

TEST(ScanController, AControllerReleasedWithoutDeinitializeKeepsTheEnvironment) {
    WorkFolder work;
    ASSERT_TRUE(work.AddPlugin(L"tp_general_findings"));
    RecordingUi ui;
    const int before = SKEnvironment::Instance()->SetupCount();
    {
        ScanController controller;
        ASSERT_TRUE(controller.Initialize(&ui));
        controller.GetScanManager()->Scan();
    }
    // The handler went first, then its DLL; the adapters that outlived it made no call.
    const auto events = pluginevents::Of(L"FINDER");
    EXPECT_EQ(L"Unloaded", events.back());
    EXPECT_EQ(before + 1, SKEnvironment::Instance()->SetupCount());
    SKEnvironment::Instance()->Teardown();
}
