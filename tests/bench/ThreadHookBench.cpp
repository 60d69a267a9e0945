// Prints the time of each worm-thread and API-hook step of a scan with 30+ extra processes running (a
// third of them fake worms in netsvcs service hosts), and the hook step's cost per process, each against
// a peer measured in the same run: one plain pass that opens every process and reads its image path.
// Also prints what the stack-layout check costs Initialize, against starting and joining one thread.
// Then the whole Scan of the plug-in's handler (services, threads, hooks) with 320 extra service keys.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "grimlet/hooks/ApiHookStep.h"
#include "grimlet/plugin/OutOfReachProcesses.h"
#include "grimlet/plugin/PluginGeneralImpl.h"
#include "grimlet/threads/OsInfo.h"
#include "grimlet/threads/StackCalibration.h"
#include "grimlet/threads/StackLayoutLearner.h"
#include "grimlet/threads/ThreadSnapshot.h"
#include "grimlet/threads/WormThreadList.h"
#include "grimlet/threads/WormThreadSearch.h"
#include "grimlet/threads/WormThreadStep.h"
#include "tests/support/BenchClock.h"
#include "tests/support/FakeService.h"
#include "tests/support/FixtureProcess.h"
#include "tests/support/TestSupport.h"

using namespace grimlettest;
using testsupport::NowMs;

namespace {

double TimeMs(const std::function<void()>& step) {
    const double start = NowMs();
    step();
    return NowMs() - start;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median of `runs` runs, in milliseconds.
double MedianMs(const std::function<void()>& step, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) times.push_back(TimeMs(step));
    return Median(times);
}

std::vector<DWORD> ProcessIds() {
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes);
    ids.resize(bytes / sizeof(DWORD));
    return ids;
}

// The peer: every process opened once and its image path read.
void VisitEveryProcess() {
    for (DWORD id : ProcessIds()) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
        if (!process) continue;
        char path[MAX_PATH];
        GetModuleFileNameExA(process, nullptr, path, MAX_PATH);
        CloseHandle(process);
    }
}

DWORD WINAPI EndAtOnce(LPVOID) { return 0; }

// The peer of Initialize's layout check: one thread started and joined.
void StartAndJoinOneThread() {
    HANDLE thread = CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, nullptr);
    if (!thread) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

// Initialize's share of the thread search: the table and its calibration, then the layout check.
// Thread starts under Wine vary much with the machine's load: these take the median of more runs.
void MeasureInitialize() {
    constexpr int kRuns = 21;
    const double thread = MedianMs(StartAndJoinOneThread, kRuns);
    const double initialize = MedianMs(SetUpOsInfo, kRuns);
    const OsInfo& os = OsInfo::Instance();
    const OsInfo proven = os;
    // The check alone, once with the proven layout (it reads both probes back at once) and once with
    // marks that read nothing, so that it learns and verifies.
    const double check = MedianMs([] { ProveStackLayout(StackLayoutLearner(&IsSystemReturnAddress)); }, kRuns);
    const double learn = MedianMs(
        [] {
            OsInfo::Instance().markA = OsInfo::Instance().markB = 0x7;
            ProveStackLayout(StackLayoutLearner(&IsSystemReturnAddress));
        },
        kRuns);
    OsInfo::Instance() = proven;
    std::printf("stack layout in use: depths %d/%d picks %d/%d marks %p %p\n", os.depthA, os.depthB, os.pickA, os.pickB,
                reinterpret_cast<void*>(os.markA), reinterpret_cast<void*>(os.markB));
    std::printf("peer (start and join one thread):                     %8.3f ms\n", thread);
    std::printf("Initialize's SetUpOsInfo with the layout check:       %8.3f ms  %6.2fx peer\n", initialize,
                initialize / thread);
    std::printf("layout check, layout reads back at once:              %8.3f ms  %6.2fx peer\n", check, check / thread);
    std::printf("layout check, layout learned and verified:            %8.3f ms  %6.2fx peer\n", learn, learn / thread);
}

// A step's time and its ratio to the peer. The machine's load changes from moment to moment, so each of
// seven rounds times the peer right before the step and the ratio is taken within the round; both
// figures are medians.
struct Figure {
    double ms;
    double ratio;
};

std::vector<double> peerTimes;  // every peer run, for the peer's own figure

Figure Measure(const std::function<void()>& step) {
    std::vector<double> times;
    std::vector<double> ratios;
    for (int i = 0; i < 7; ++i) {
        const double peer = TimeMs(VisitEveryProcess);
        peerTimes.push_back(peer);
        times.push_back(TimeMs(step));
        ratios.push_back(times.back() / peer);
    }
    return {Median(times), Median(ratios)};
}

// Counts what the handler reports.
class CountingReporter final : public IPluginReporter {
public:
    void SK_PLUGIN_CALL ReportFound(int, IPluginFound*) override { ++found; }
    void SK_PLUGIN_CALL ReportCleanResult(int, IPluginFound*, int) override {}
    int found = 0;
};

// 320 extra service keys, one in eight of the netsvcs group with an unsigned DLL, as in service_bench.
std::vector<std::unique_ptr<testsupport::FakeService>> MakeServiceKeys(const std::wstring& dll) {
    testsupport::EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
    const std::wstring stem = testsupport::UniqueServiceStem(L"HookBench");
    std::vector<std::unique_ptr<testsupport::FakeService>> keys;
    for (int i = 0; i < 320; ++i) {
        wchar_t suffix[16];
        _snwprintf(suffix, 16, L"%03d", i);
        const bool netsvcs = i % 8 == 0;
        keys.push_back(std::make_unique<testsupport::FakeService>(
            stem + suffix,
            netsvcs ? L"%SystemRoot%\\system32\\svchost.exe -k netsvcs"
                    : L"%SystemRoot%\\system32\\svchost.exe -k LocalService",
            dll.c_str()));
        if (netsvcs && i % 64 == 0) testsupport::FakeService::DenyEverybody(keys.back()->KeyPath());
    }
    return keys;
}

DWORD ServiceKeyCount() {
    HKEY services = nullptr;
    DWORD subkeys = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ, &services)) return 0;
    RegQueryInfoKeyW(services, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(services);
    return subkeys;
}

}  // namespace

int main() {
    testsupport::ScratchFolder scratch(L"threadbench");
    std::vector<std::unique_ptr<FakeWorm>> processes;
    for (int i = 0; i < 12; ++i)
        processes.push_back(std::make_unique<FakeWorm>(scratch / L"netsvcs", L"svchost.exe", L"-k netsvcs"));
    for (int i = 0; i < 10; ++i)
        processes.push_back(std::make_unique<FakeWorm>(scratch / L"local", L"svchost.exe", L"-k LocalService"));
    for (int i = 0; i < 10; ++i)
        processes.push_back(std::make_unique<FakeWorm>(scratch / L"other", L"other.exe", L""));
    const auto ready = std::count_if(processes.begin(), processes.end(), [](const auto& p) { return p->Ready(); });
    const std::size_t total = ProcessIds().size();
    std::printf("%d extra processes running, %u processes in all\n", static_cast<int>(ready),
                static_cast<unsigned>(total));

    // The layout the product proves on this system, so that the measured run recognises and records
    // the worm threads as a scan would.
    MeasureInitialize();

    const Figure snapshot = Measure([] { ThreadSnapshot::Instance().Refill(); });
    const Figure netsvcs = Measure([] {
        WormThreadList::Instance().Clear();
        FindWormThreads(L"svchost.exe", L"-k netsvcs");
    });
    const Figure services = Measure([] {
        WormThreadList::Instance().Clear();
        FindWormThreads(L"services.exe", L"");
    });
    std::size_t found = 0;
    const Figure threadStep = Measure([&found] {
        std::vector<ScanRecord> results;
        OutOfReachProcesses outOfReach;
        ScanWormThreads(results, outOfReach);
        found = WormThreadList::Instance().Entries().size();
    });
    std::size_t hooks = 0;
    const Figure hookStep = Measure([&hooks] { hooks = CollectApiHookRecords().size(); });

    std::printf("thread snapshot:                                      %8.2f ms  %6.2fx peer\n", snapshot.ms, snapshot.ratio);
    std::printf("search svchost.exe -k netsvcs:                        %8.2f ms  %6.2fx peer\n", netsvcs.ms, netsvcs.ratio);
    std::printf("search services.exe:                                  %8.2f ms  %6.2fx peer\n", services.ms, services.ratio);
    std::printf("worm-thread step (%3u threads found):                 %8.2f ms  %6.2fx peer\n",
                static_cast<unsigned>(found), threadStep.ms, threadStep.ratio);
    std::printf("API-hook step (%u hooks):                               %8.2f ms  %6.2fx peer\n",
                static_cast<unsigned>(hooks), hookStep.ms, hookStep.ratio);
    std::printf("API-hook step per process:                            %8.3f ms\n",
                hookStep.ms / static_cast<double>(total));

    const std::wstring dll = scratch / L"bench.dll";
    testsupport::WriteFileBytes(dll, "MZ not signed");
    const auto keys = MakeServiceKeys(dll);
    PluginGeneralImpl handler(PluginSteps::Product());
    CountingReporter reporter;
    handler.SetReporter(&reporter);
    const Figure scan = Measure([&] {
        reporter.found = 0;
        handler.Scan();
    });
    std::printf("whole Scan (%u service keys, %u processes, %d findings): %8.2f ms  %6.2fx peer\n",
                static_cast<unsigned>(ServiceKeyCount()), static_cast<unsigned>(ProcessIds().size()), reporter.found,
                scan.ms, scan.ratio);
    std::printf("peer (open every process once, read its image path): %8.2f ms (median of %u runs)\n",
                Median(peerTimes), static_cast<unsigned>(peerTimes.size()));
    return 0;
}
