// Loading plug-ins, registering their handlers, enumerating adapters and unloading.
#include <gtest/gtest.h>

#include <memory>

#include "plugin_host/ISKFileScanner.h"
#include "plugin_host/ISKScanner.h"
#include "plugin_host/SKItemCleaner.h"
#include "plugin_host/SKPluginManager.h"
#include "tests/plugin_host/PluginEventLog.h"
#include "tests/plugin_host/PluginFolder.h"
#include "tests/support/LogCapture.h"

using Gantry::plugin::SKPluginManager;
using Names = std::vector<std::wstring>;

namespace {

const char kLogName[] = "plugin_manager_test.log";

class PluginManagerTest : public ::testing::Test {
protected:
    void SetUp() override { pluginevents::Clear(); }
    PluginFolder folder;
};

std::vector<std::wstring> GeneralScannerNames(SKPluginManager& manager) {
    std::vector<std::wstring> names;
    std::shared_ptr<ISKGeneralScanner> scanner;
    for (int more = manager.FirstGeneralScanner(scanner); more; more = manager.NextGeneralScanner(scanner))
        names.push_back(scanner->GetName());
    return names;
}

}  // namespace

TEST_F(PluginManagerTest, HandlersAreEnumeratedInCodeUnitOrderWhateverTheLoadOrder) {
    for (const auto& order : {Names{L"tp_general_b", L"tp_general_a"}, Names{L"tp_general_a", L"tp_general_b"}}) {
        PluginFolder plugins;
        ASSERT_TRUE(plugins.Add(order[0], L"first.dll"));
        ASSERT_TRUE(plugins.Add(order[1], L"second.dll"));
        SKPluginManager manager;
        manager.LoadPlugin(plugins.Path());
        EXPECT_EQ((Names{L"A", L"B"}), GeneralScannerNames(manager));
    }
    PluginFolder mixedCase;
    ASSERT_TRUE(mixedCase.Add(L"tp_general_lower_a", L"one.dll"));
    ASSERT_TRUE(mixedCase.Add(L"tp_general_b", L"two.dll"));
    SKPluginManager manager;
    manager.LoadPlugin(mixedCase.Path() + L"\\");
    EXPECT_EQ((Names{L"B", L"a"}), GeneralScannerNames(manager));
}

TEST_F(PluginManagerTest, ADuplicateNameIsRefusedPerKindAndIdsHaveNoGaps) {
    ASSERT_TRUE(folder.Add(L"tp_general_x", L"x1.dll"));
    ASSERT_TRUE(folder.Add(L"tp_general_x", L"x2.dll"));
    ASSERT_TRUE(folder.Add(L"tp_file_x", L"xf.dll"));
    ASSERT_TRUE(folder.Add(L"tp_init_fails", L"initfails.dll"));
    {
        SKPluginManager manager;
        manager.LoadPlugin(folder.Path());
        EXPECT_EQ((Names{L"X"}), manager.GeneralHandlerNames());
        EXPECT_EQ((Names{L"X"}), manager.FileHandlerNames());
        EXPECT_EQ(2, manager.PluginCount());
        // The refused duplicate got exactly one Release, at once, and its DLL is gone already.
        EXPECT_EQ(1u, pluginevents::Count(L"X", L"Release"));
        EXPECT_EQ(2u, manager.LoadedDllCount());
        // Accepted handlers were numbered 1 and 2, whatever the order the folder listed them in.
        std::vector<std::wstring> accepted;
        for (const auto& event : pluginevents::Of(L"X"))
            if (event.rfind(L"Accepted", 0) == 0) accepted.push_back(event);
        std::sort(accepted.begin(), accepted.end());
        EXPECT_EQ((Names{L"Accepted 1", L"Accepted 2"}), accepted);
    }
    EXPECT_EQ(3u, pluginevents::Count(L"X", L"Release"));
}

TEST_F(PluginManagerTest, ARefusedHandlerIsReleasedOnceAndNeverScanned) {
    ASSERT_TRUE(folder.Add(L"tp_init_fails", L"initfails.dll"));
    ASSERT_TRUE(folder.Add(L"tp_no_interface", L"nobody.dll"));
    {
        SKPluginManager manager;
        manager.LoadPlugin(folder.Path());
        std::shared_ptr<ISKGeneralScanner> scanner;
        EXPECT_EQ(0, manager.FirstGeneralScanner(scanner));
        EXPECT_EQ(0, manager.PluginCount());
        EXPECT_EQ(0u, manager.LoadedDllCount());
    }
    EXPECT_EQ((Names{L"Initialize", L"Release", L"Unloaded"}), pluginevents::Of(L"INITFAIL"));
    // A handler that answers no interface name gets no call at all: no reference was taken.
    EXPECT_EQ((Names{L"Unloaded"}), pluginevents::Of(L"NOBODY"));
}

TEST_F(PluginManagerTest, AFactoryThatFailsAfterItsHandlerWasAcceptedLeavesNoHandlerBehind) {
    ASSERT_TRUE(folder.Add(L"tp_accept_then_fail", L"z.dll"));
    ASSERT_TRUE(folder.Add(L"tp_general_a", L"a.dll"));
    {
        SKPluginManager manager;
        manager.LoadPlugin(folder.Path());
        EXPECT_EQ((Names{L"A"}), manager.GeneralHandlerNames());
        EXPECT_EQ(1u, manager.LoadedDllCount());
        EXPECT_EQ((Names{L"A"}), GeneralScannerNames(manager));
        // Released before its code went away.
        const Names zEvents = pluginevents::Of(L"Z");
        ASSERT_EQ(4u, zEvents.size());
        EXPECT_EQ(L"Initialize", zEvents[0]);
        EXPECT_EQ(L"Release", zEvents[2]);
        EXPECT_EQ(L"Unloaded", zEvents[3]);
    }
    // Destroying the manager reaches only the handler that is still loaded.
    EXPECT_EQ(1u, pluginevents::Count(L"Z", L"Release"));
    EXPECT_EQ(1u, pluginevents::Count(L"A", L"Release"));
}

TEST_F(PluginManagerTest, EachAdapterKindSharesItsCursorAndPreGeneralHandlersGetNone) {
    ASSERT_TRUE(folder.Add(L"tp_general_a", L"a.dll"));
    ASSERT_TRUE(folder.Add(L"tp_general_b", L"b.dll"));
    ASSERT_TRUE(folder.Add(L"tp_file_restart", L"f.dll"));
    ASSERT_TRUE(folder.Add(L"tp_pre_general", L"p.dll"));
    SKPluginManager manager;
    manager.LoadPlugin(folder.Path());
    EXPECT_EQ((Names{L"PRE"}), manager.PreGeneralHandlerNames());
    EXPECT_EQ(4, manager.PluginCount());

    std::shared_ptr<ISKGeneralScanner> scanner;
    SKItemCleaner* cleaner = nullptr;
    ASSERT_EQ(1, manager.FirstGeneralScanner(scanner));
    EXPECT_EQ(L"A", scanner->GetName());
    ASSERT_EQ(1, manager.NextGeneralCleaner(cleaner));  // the shared cursor moves on to "B"
    std::unique_ptr<SKItemCleaner> owned(cleaner);
    EXPECT_EQ(L"B", owned->GetName());
    EXPECT_EQ(0, manager.NextGeneralScanner(scanner));
    EXPECT_EQ(0, manager.NextGeneralScanner(scanner));

    std::shared_ptr<ISKFileScanner> fileScanner;
    ASSERT_EQ(1, manager.FirstFileScanner(fileScanner));
    EXPECT_EQ(L"FILEGUARD", fileScanner->GetName());
    EXPECT_EQ(0, manager.NextFileScanner(fileScanner));
    SKItemCleaner* fileCleaner = nullptr;
    ASSERT_EQ(1, manager.FirstFileCleaner(fileCleaner));
    std::unique_ptr<SKItemCleaner> ownedFileCleaner(fileCleaner);
    EXPECT_EQ(0, manager.NextFileCleaner(fileCleaner));
}

TEST_F(PluginManagerTest, AFolderNamedLikeADllIsTriedAndReportedWithoutHarm) {
    LogCapture log(kLogName);
    ASSERT_TRUE(CreateDirectoryW((folder.Path() + L"\\x.dll").c_str(), nullptr));
    {
        SKPluginManager manager;
        manager.LoadPlugin(folder.Path());
        EXPECT_EQ(0u, manager.LoadedDllCount());
    }
    const auto tried = log.Matching("SKPluginManager::LoadPlugin() => ");
    ASSERT_EQ(1u, tried.size());
    EXPECT_NE(std::string::npos, tried[0].find("x.dll[SKPluginManager(69)]"));
    EXPECT_EQ(1u, log.Count("SKPluginManager::LoadPlugin() LoadAndInitialize failed[SKPluginManager(79)]"));
}

TEST_F(PluginManagerTest, NothingToLoadMeansNothingToReleaseAndNothingLogged) {
    LogCapture log(kLogName);
    {
        SKPluginManager manager;
        manager.LoadPlugin(folder.Path() + L"\\missing");
        manager.LoadPlugin(folder.Path());
        std::shared_ptr<ISKFileScanner> scanner;
        EXPECT_EQ(0, manager.FirstFileScanner(scanner));
        EXPECT_EQ(0, manager.NextFileScanner(scanner));
    }
    EXPECT_EQ(0u, log.Count("SKPluginManager"));
    EXPECT_TRUE(pluginevents::Events().empty());
}

TEST_F(PluginManagerTest, TypeNamesAreSharedByEveryManagerOfTheProcess) {
    SKPluginManager first;
    SKPluginManager second;
    int a = 0, b = 0, c = 0, file = 0;
    first.RegisterTypeName(L"PLUGIN FOR TESTS", &a);
    second.RegisterTypeName(L"PLUGIN FOR TESTS", &b);
    second.RegisterTypeName(L"plugin for tests", &c);
    first.RegisterTypeName(L"File", &file);
    EXPECT_GE(a, 4097);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(2, file);
}
