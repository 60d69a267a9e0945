// Prints the time of each worm-thread and API-hook step of a scan with 30+ extra processes running (a
// third of them fake worms in netsvcs service hosts), and the hook step's cost per process, each against
// a peer measured in the same run: one plain pass that opens every process and reads its image path.
// Also prints what the stack-layout check costs Initialize, against starting and joining one thread.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "grimlet/hooks/ApiHookStep.h"
#include "grimlet/plugin/OutOfReachProcesses.h"
#include "grimlet/threads/OsInfo.h"
#include "grimlet/threads/StackCalibration.h"
#include "grimlet/threads/StackLayoutLearner.h"
#include "grimlet/threads/ThreadSnapshot.h"
#include "grimlet/threads/WormThreadList.h"
#include "grimlet/threads/WormThreadSearch.h"
#include "grimlet/threads/WormThreadStep.h"
#include "tests/support/FixtureProcess.h"
#include "tests/support/TestSupport.h"

using namespace grimlettest;

namespace {

double NowMs() {
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1e3 / static_cast<double>(frequency.QuadPart);
}

// Median of `runs` runs, in milliseconds.
double Measure(const std::function<void()>& step, int runs = 5) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = NowMs();
        step();
        times.push_back(NowMs() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
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
    const double thread = Measure(StartAndJoinOneThread, kRuns);
    const double initialize = Measure(SetUpOsInfo, kRuns);
    const OsInfo& os = OsInfo::Instance();
    const OsInfo proven = os;
    // The check alone, once with the proven layout (it reads both probes back at once) and once with
    // marks that read nothing, so that it learns and verifies.
    const double check = Measure([] { ProveStackLayout(StackLayoutLearner(&IsSystemReturnAddress)); }, kRuns);
    const double learn = Measure(
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

    const double peer = Measure(VisitEveryProcess);
    const double snapshot = Measure([] { ThreadSnapshot::Instance().Refill(); });
    const double netsvcs = Measure([] {
        WormThreadList::Instance().Clear();
        FindWormThreads(L"svchost.exe", L"-k netsvcs");
    });
    const double services = Measure([] {
        WormThreadList::Instance().Clear();
        FindWormThreads(L"services.exe", L"");
    });
    std::size_t found = 0;
    const double threadStep = Measure([&found] {
        std::vector<ScanRecord> results;
        OutOfReachProcesses outOfReach;
        ScanWormThreads(results, outOfReach);
        found = WormThreadList::Instance().Entries().size();
    });
    std::size_t hooks = 0;
    const double hookStep = Measure([&hooks] { hooks = CollectApiHookRecords().size(); });

    std::printf("peer (open every process once, read its image path): %8.2f ms\n", peer);
    std::printf("thread snapshot:                                      %8.2f ms  %6.2fx peer\n", snapshot, snapshot / peer);
    std::printf("search svchost.exe -k netsvcs:                        %8.2f ms  %6.2fx peer\n", netsvcs, netsvcs / peer);
    std::printf("search services.exe:                                  %8.2f ms  %6.2fx peer\n", services, services / peer);
    std::printf("worm-thread step (%3u threads found):                 %8.2f ms  %6.2fx peer\n",
                static_cast<unsigned>(found), threadStep, threadStep / peer);
    std::printf("API-hook step (%u hooks):                               %8.2f ms  %6.2fx peer\n",
                static_cast<unsigned>(hooks), hookStep, hookStep / peer);
    std::printf("API-hook step per process:                            %8.3f ms  %6.2fx peer per process\n",
                hookStep / static_cast<double>(total), hookStep / peer);
    return 0;
}
