// The general handler with stand-in scan and clean steps: what it reports, in which order, with
// which ids, and what Clean does with ids old and new.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grimlet/plugin/PluginGeneralImpl.h"
#include "grimlet/plugin/PluginState.h"
#include "tests/plugin/CContractTables.h"
#include "tests/plugin/TestPluginHost.h"

using testhost::TestPluginReporter;

namespace {

// What the stand-in steps find and do; reset by each test.
struct World {
    std::vector<std::wstring> services;  // one record each
    bool threads = false;
    std::vector<std::wstring> calls;
    std::vector<uint32_t> cleanedIndexes;
    bool privilegesWork = true;
    std::vector<std::pair<uint32_t, uint32_t>> hooks;  // (process, kind), one record each
    std::vector<std::vector<uint32_t>> repairedGroups;  // the kinds of each repairHooks call
    bool autoRunOn = false;
} g_world;

ScanRecord Record(uint32_t kind, const std::wstring& title, const std::wstring& detail) {
    ScanRecord r;
    r.kind = kind;
    r.title = title;
    r.detail = detail;
    return r;
}

PluginSteps StandInSteps() {
    PluginSteps s;
    s.enablePrivilege = [](const wchar_t* name) {
        g_world.calls.push_back(std::wstring(L"privilege ") + name);
        return g_world.privilegesWork;
    };
    s.setUpOsInfo = [] { g_world.calls.push_back(L"os"); };
    s.scanWormServices = [](std::vector<ScanRecord>& results) {
        g_world.calls.push_back(L"services " + std::to_wstring(results.size()));
        for (const std::wstring& service : g_world.services) {
            results.push_back(Record(kScanRecordWormService, L"GRIMLET服务(隐藏注册表):", service));
        }
    };
    s.scanWormThreads = [](std::vector<ScanRecord>& results, OutOfReachProcesses&) {
        g_world.calls.push_back(L"threads");
        if (g_world.threads) results.push_back(Record(kScanRecordWormThreads, L"GRIMLET线程:", L"由病毒创建的恶意线程"));
    };
    s.scanApiHooks = [](std::vector<ScanRecord>& results, OutOfReachProcesses&) {
        g_world.calls.push_back(L"hooks");
        for (const auto& hook : g_world.hooks) {
            ScanRecord record = Record(hook.second, L"API挂钩", L"hook");
            record.processId = hook.first;
            results.push_back(record);
        }
    };
    s.scanAutoRun = [](std::vector<ScanRecord>& results) {
        g_world.calls.push_back(L"autorun");
        if (g_world.autoRunOn) results.push_back(Record(kScanRecordAutoRun, L"自动播放", L"autorun.inf"));
    };
    s.cleanRecord = [](const std::vector<ScanRecord>& results, uint32_t index) {
        g_world.cleanedIndexes.push_back(index);
        return index < results.size() && results[index].kind == kScanRecordWormService ? kPluginCleanDone
                                                                                      : kPluginCleanFailed;
    };
    return s;
}

class GeneralHandler : public ::testing::Test {
protected:
    void SetUp() override {
        g_world = World();
        PluginState& state = PluginState::Instance();
        state.pluginId = 3;
        state.typeId = 4097;
        state.results.clear();
        handler_ = new PluginGeneralImpl(StandInSteps());
        void* out = nullptr;
        ASSERT_EQ(handler_->QueryInterface(kInterfacePluginGeneralHandler, &out), 1);
        handler_->SetReporter(&reporter_);
    }
    void TearDown() override { handler_->Release(); }

    PluginGeneralImpl* handler_ = nullptr;
    TestPluginReporter reporter_;
};

TEST_F(GeneralHandler, InitializeEnablesBothPrivilegesThenCalibratesAndAlwaysSucceeds) {
    g_world.privilegesWork = false;
    EXPECT_EQ(handler_->Initialize(), 1);
    EXPECT_EQ(g_world.calls,
              (std::vector<std::wstring>{L"privilege SeDebugPrivilege", L"privilege SeTakeOwnershipPrivilege", L"os"}));
}

TEST_F(GeneralHandler, CleanMachineReportsNothing) {
    handler_->Scan();
    EXPECT_TRUE(reporter_.found.empty());
    EXPECT_EQ(g_world.calls, (std::vector<std::wstring>{L"services 0", L"threads", L"hooks", L"autorun"}));
    const int ids[] = {0};
    handler_->Clean(ids, 1);
    EXPECT_TRUE(reporter_.cleaned.empty());
    EXPECT_TRUE(g_world.cleanedIndexes.empty());
}

TEST_F(GeneralHandler, ServicesThenThreadsAreReportedWithTheirIndexAsId) {
    g_world.services = {L"服务:[A] 文件:[a.dll]", L"服务:[B] 文件:[b.dll]"};
    g_world.threads = true;
    handler_->Scan();
    ASSERT_EQ(reporter_.found.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reporter_.found[i].pluginId, 3);
        EXPECT_EQ(reporter_.found[i].id, i);
        EXPECT_EQ(reporter_.found[i].typeId, 4097);
        EXPECT_EQ(reporter_.found[i].threatClass, L"Virus");
    }
    EXPECT_EQ(reporter_.found[0].name, L"服务:[A] 文件:[a.dll]");
    EXPECT_EQ(reporter_.found[0].threatName, L"GRIMLET服务(隐藏注册表):");
    EXPECT_EQ(reporter_.found[1].name, L"服务:[B] 文件:[b.dll]");
    EXPECT_EQ(reporter_.found[2].name, L"由病毒创建的恶意线程");
    EXPECT_EQ(reporter_.found[2].threatName, L"GRIMLET线程:");
}

// AutoRun left on comes last, as the plug-in's own type (so that its cleaner gets it) and of the class
// that keeps it out of the threats; choosing it runs its removal like any finding.
TEST_F(GeneralHandler, AutoRunLeftOnIsASettingOfThePluginsOwnTypeCleanedWhenChosen) {
    g_world.services = {L"svc"};
    g_world.autoRunOn = true;
    handler_->Scan();
    ASSERT_EQ(reporter_.found.size(), 2u);
    EXPECT_EQ(reporter_.found[1].id, 1);
    EXPECT_EQ(reporter_.found[1].typeId, 4097);
    EXPECT_EQ(reporter_.found[1].threatClass, L"Setting");
    EXPECT_EQ(reporter_.found[1].threatName, L"自动播放");
    const int ids[] = {1};
    handler_->Clean(ids, 1);
    EXPECT_EQ(g_world.cleanedIndexes, (std::vector<uint32_t>{1}));
}

TEST_F(GeneralHandler, EachScanStartsFromAnEmptyResultList) {
    g_world.services = {L"one"};
    handler_->Scan();
    handler_->Scan();
    EXPECT_EQ(g_world.calls[0], L"services 0");
    EXPECT_EQ(g_world.calls[4], L"services 0");
    EXPECT_EQ(PluginState::Instance().results.size(), 1u);
}

TEST_F(GeneralHandler, CleanReportsEachKnownIdWithItsOutcome) {
    g_world.services = {L"svc"};
    g_world.threads = true;
    handler_->Scan();
    const int ids[] = {1, 0, 42};
    handler_->Clean(ids, 3);
    EXPECT_EQ(g_world.cleanedIndexes, (std::vector<uint32_t>{1, 0}));  // 42 was never reported
    ASSERT_EQ(reporter_.cleaned.size(), 2u);
    EXPECT_EQ(reporter_.cleaned[0].pluginId, 3);
    EXPECT_EQ(reporter_.cleaned[0].id, 1);
    EXPECT_EQ(reporter_.cleaned[0].outcome, 1);  // the stand-in cannot remove threads
    EXPECT_EQ(reporter_.cleaned[1].id, 0);
    EXPECT_EQ(reporter_.cleaned[1].outcome, 0);
}

// A hook can start the worm's threads again: every chosen hook goes first, one call per process, and
// the threads and services after, in the order chosen.
TEST_F(GeneralHandler, CleanUndoesTheHooksFirstOneProcessAtATime) {
    g_world.services = {L"svc"};
    g_world.threads = true;
    g_world.hooks = {{100, 5}, {200, 5}, {100, 6}};
    PluginSteps steps = StandInSteps();
    steps.repairHooks = [](const std::vector<const ScanRecord*>& records) {
        std::vector<uint32_t> kinds;
        for (const ScanRecord* record : records) kinds.push_back(record->processId * 10 + record->kind);
        g_world.repairedGroups.push_back(kinds);
        return std::vector<bool>(records.size(), kinds.front() / 10 == 100);
    };
    PluginGeneralImpl handler(steps);
    handler.SetReporter(&reporter_);
    handler.Scan();  // ids: 0 service, 1 threads, 2 to 4 hooks
    const int ids[] = {1, 0, 4, 3, 2};
    handler.Clean(ids, 5);
    EXPECT_EQ(g_world.repairedGroups, (std::vector<std::vector<uint32_t>>{{1006, 1005}, {2005}}));
    EXPECT_EQ(g_world.cleanedIndexes, (std::vector<uint32_t>{1, 0}));
    std::vector<std::pair<int, int>> outcomes;
    for (const auto& result : reporter_.cleaned) outcomes.emplace_back(result.id, result.outcome);
    EXPECT_EQ(outcomes, (std::vector<std::pair<int, int>>{{4, 0}, {2, 0}, {3, 1}, {1, 1}, {0, 0}}));
}

// The engine proves a copy on a drive and a task against the worm's service DLL, so both go before the
// service; they are judged against the DLLs of the services found, and the scan runs them after hooks.
TEST_F(GeneralHandler, CopiesAndTasksAreJudgedByTheServicesDllsAndCleanedBeforeThem) {
    g_world.services = {L"svc"};
    g_world.threads = true;  // ended first: a running worm would write its copy again
    PluginSteps steps = StandInSteps();
    steps.proveWormDlls = [](const std::vector<ScanRecord>& results) {
        g_world.calls.push_back(L"prove " + std::to_wstring(results.size()));
        return std::vector<ProvenWormDll>{{L"C:\\w.dll", {1, 2, "AA11"}}};
    };
    steps.scanDriveCopies = [](const std::vector<std::string>& sha1, std::vector<ScanRecord>& results) {
        g_world.calls.push_back(L"drives " + std::wstring(sha1.at(0).begin(), sha1.at(0).end()));
        results.push_back(Record(kScanRecordDriveCopy, L"GRIMLET副本(自动运行):", L"copy"));
    };
    steps.scanWormTasks = [](const std::vector<ProvenWormDll>& proven, std::vector<ScanRecord>& results) {
        g_world.calls.push_back(L"tasks " + proven.at(0).path);
        results.push_back(Record(kScanRecordWormTask, L"GRIMLET计划任务:", L"task"));
    };
    PluginGeneralImpl handler(steps);
    handler.SetReporter(&reporter_);
    handler.Scan();  // ids: 0 service, 1 threads, 2 copy, 3 task
    EXPECT_EQ(g_world.calls, (std::vector<std::wstring>{L"services 0", L"threads", L"hooks", L"prove 2", L"drives AA11",
                                                        L"tasks C:\\w.dll", L"autorun"}));
    ASSERT_EQ(reporter_.found.size(), 4u);
    EXPECT_EQ(reporter_.found[2].threatClass, L"Virus");
    EXPECT_EQ(reporter_.found[2].typeId, 4097);
    const int ids[] = {0, 3, 2, 1};
    handler.Clean(ids, 4);
    EXPECT_EQ(g_world.cleanedIndexes, (std::vector<uint32_t>{1, 3, 2, 0}));
}

TEST_F(GeneralHandler, OldIdsKeepTheirFirstFindingAndCleanTheCurrentListAtThatIndex) {
    g_world.services = {L"first A", L"first B"};
    handler_->Scan();
    g_world.services = {L"second A"};
    handler_->Scan();
    // The found table kept the first scan's entries; the report of the second scan was its own.
    EXPECT_EQ(reporter_.found[2].name, L"second A");

    struct NameReporter final : IPluginReporter {
        std::vector<std::wstring> names;
        std::vector<int> outcomes;
        void SK_PLUGIN_CALL ReportFound(int, IPluginFound*) override {}
        void SK_PLUGIN_CALL ReportCleanResult(int, IPluginFound* found, int outcome) override {
            names.push_back(found->GetName());
            outcomes.push_back(outcome);
        }
    } names;
    handler_->SetReporter(&names);
    const int ids[] = {0, 1};
    handler_->Clean(ids, 2);
    EXPECT_EQ(names.names, (std::vector<std::wstring>{L"first A", L"first B"}));
    // Index 1 is past the end of the current list: not removed.
    EXPECT_EQ(names.outcomes, (std::vector<int>{0, 1}));
}

TEST_F(GeneralHandler, NullIdsAndZeroCountDoNothing) {
    g_world.services = {L"svc"};
    handler_->Scan();
    handler_->Clean(nullptr, 3);
    const int ids[] = {0};
    handler_->Clean(ids, 0);
    EXPECT_TRUE(reporter_.cleaned.empty());
}

TEST_F(GeneralHandler, WithoutAReporterNothingIsCalledThroughIt) {
    g_world.services = {L"svc"};
    handler_->SetReporter(nullptr);
    handler_->Scan();
    const int ids[] = {0};
    handler_->Clean(ids, 1);
    EXPECT_EQ(g_world.cleanedIndexes, std::vector<uint32_t>{0});
}

TEST_F(GeneralHandler, FindingsAreReadableThroughTheirTableAsACallerWouldReadThem) {
    g_world.services = {L"svc"};
    g_world.threads = true;
    ctables::CReporter reporter;
    ctables::InitCReporter(reporter);
    handler_->SetReporter(reinterpret_cast<IPluginReporter*>(&reporter));
    handler_->Scan();
    ASSERT_EQ(reporter.foundCount, 2);
    EXPECT_EQ(reporter.found[1].id, 1);
    EXPECT_EQ(reporter.found[1].typeId, 4097);
    EXPECT_STREQ(reporter.found[1].name, L"由病毒创建的恶意线程");
    EXPECT_STREQ(reporter.found[1].threatClass, L"Virus");
    EXPECT_STREQ(reporter.found[1].threatName, L"GRIMLET线程:");
    const int ids[] = {0, 1};
    handler_->Clean(ids, 2);
    ASSERT_EQ(reporter.cleanedCount, 2);
    // The threads end first, whatever order they were chosen in: a running worm would write back.
    EXPECT_EQ(reporter.cleaned[0].outcome, 1);
    EXPECT_EQ(reporter.cleaned[1].outcome, 0);
    EXPECT_EQ(reporter.cleaned[1].pluginId, 3);
}

TEST(GeneralHandlerLife, TheLastReleaseDestroysTheProcessWideHandlerAndASurplusOneIsHarmless) {
    PluginState& state = PluginState::Instance();
    ASSERT_EQ(state.referenceCount, 0);
    PluginGeneralImpl* handler = PluginGeneralImpl::Get();
    ASSERT_EQ(PluginGeneralImpl::Get(), handler);  // created once
    void* out = nullptr;
    ASSERT_EQ(handler->QueryInterface(L"INTERFACE_PLUGIN_GENERAL_HANDLER", &out), 1);
    ASSERT_EQ(handler->QueryInterface(L"interface_plugin_general_handler", &out), 1);
    EXPECT_EQ(state.referenceCount, 2);
    handler->Release();
    EXPECT_EQ(state.handler, handler);
    handler->Release();
    EXPECT_EQ(state.referenceCount, 0);
    EXPECT_EQ(state.handler, nullptr);  // a later factory call makes a new one

    PluginGeneralImpl unreferenced(PluginSteps::Product());
    unreferenced.Release();  // nothing left to drop: it must not destroy (this one lives on the stack)
    EXPECT_EQ(state.referenceCount, 0);
}

}  // namespace
