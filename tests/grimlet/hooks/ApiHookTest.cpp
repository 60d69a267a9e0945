// The hook test on a process that patched ws2_32!sendto in its own memory, and its repair; the scan
// step's shared test against testing each entry alone, among 30 more processes; the worm's own hooks
// in a fake worm host, proven, shown and undone, and hooks that are not the worm's left alone.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <thread>

#include "grimlet/hooks/ApiHookCheck.h"
#include "grimlet/hooks/ApiHookStep.h"
#include "grimlet/plugin/OutOfReachProcesses.h"
#include "grimlet/threads/StackCalibration.h"
#include "grimlet/threads/ThreadSnapshot.h"
#include "grimlet/threads/WormThreadList.h"
#include "grimlet/threads/WormThreadSearch.h"
#include "grimlet/threads/WormThreadTermination.h"
#include "tests/support/FixtureProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestSupport.h"

using namespace grimlettest;

namespace {

constexpr DWORD kHookAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE;

class ApiHook : public testing::Test {
protected:
    void SetUp() override {
        hooked_ = std::make_unique<FixtureProcess>(L"hooked_process.exe", scratch_.Path(), L"hooked.exe",
                                                   L"\"" + ReadyFile() + L"\"");
        ASSERT_TRUE(hooked_->Started());
        ASSERT_TRUE(WaitForFile(ReadyFile()));
    }
    std::wstring ReadyFile() const { return scratch_ / L"hooked.ready"; }
    int Check(const char* entry, const char* module, bool repair = false, DWORD access = kHookAccess) {
        HANDLE process = OpenProcess(access, FALSE, hooked_->Id());
        return process ? CheckApiHook(entry, module, repair, process) : -1;
    }
    testsupport::ScratchFolder scratch_{L"apihook"};
    std::unique_ptr<FixtureProcess> hooked_;
};

// A fake worm host whose hooks are those of the worm's, or not, with a thread of its own that keeps
// resolving names through the hooked entry.
class WormHost {
public:
    WormHost(const std::wstring& folder, const std::wstring& options)
        : status_(folder + L"\\dns" + std::to_wstring(++count_) + L".status"),
          worm_(folder, L"svchost.exe", L"-k netsvcs --hook-dns \"" + status_ + L"\" " + options) {}
    bool Ready() { return worm_.Ready() && WaitForFile(status_); }
    const FakeWorm& Worm() const { return worm_; }
    // "calls N hook N last N", as the host last wrote it.
    void Status(unsigned long& calls, unsigned long& hookRuns, long& last) const {
        const DnsHookStatus status = ReadDnsHookStatus(status_);
        calls = status.calls;
        hookRuns = status.hookRuns;
        last = status.last;
    }

private:
    static int count_;
    std::wstring status_;
    FakeWorm worm_;
};
int WormHost::count_ = 0;

std::vector<ScanRecord> ScanLikeThePlugIn() {
    // The stack layout that the thread search needs, proven once on a worker thread as Initialize does.
    static const bool proven = [] {
        std::thread([] { SetUpOsInfo(); }).join();
        return true;
    }();
    (void)proven;
    std::vector<ScanRecord> results;
    OutOfReachProcesses outOfReach;
    ThreadSnapshot::Instance().Refill();
    WormThreadList::Instance().Clear();
    FindWormThreads(L"svchost.exe", L"-k netsvcs");
    ScanApiHooks(results, outOfReach);
    return results;
}

std::vector<const ScanRecord*> RecordsOf(const std::vector<ScanRecord>& records, DWORD processId) {
    std::vector<const ScanRecord*> mine;
    for (const ScanRecord& record : records)
        if (record.processId == processId) mine.push_back(&record);
    return mine;
}

TEST_F(ApiHook, DetectsAndRepairsAPatchedEntry) {
    // Resolved from the system folder's file: the module need not be loaded in this process.
    EXPECT_EQ(ApiHookResult::kHooked, Check("sendto", "WS2_32.DLL"));
    EXPECT_EQ(ApiHookResult::kClean, Check("ZwQueryInformationProcess", "ntdll.dll"));
    EXPECT_EQ(ApiHookResult::kClean, Check("DnsQuery_A", "dnsapi.dll")) << "a module the process does not have";
    EXPECT_EQ(ApiHookResult::kUnresolved, Check("NoSuchEntryPoint", "ws2_32.dll"));

    // A handle that may not write: the repair fails and says so.
    EXPECT_EQ(ApiHookResult::kRepairFailed,
              Check("sendto", "ws2_32.dll", true, PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_READ));
    EXPECT_EQ(ApiHookResult::kHooked, Check("sendto", "ws2_32.dll"));

    EXPECT_EQ(ApiHookResult::kClean, Check("sendto", "ws2_32.dll", true));
    EXPECT_EQ(ApiHookResult::kClean, Check("sendto", "ws2_32.dll")) << "the file's bytes are back";
    EXPECT_TRUE(hooked_->Running());
}

TEST_F(ApiHook, UnreadableProcessesAndHandleOwnership) {
    // A handle without the right to read memory: the modules cannot be listed.
    EXPECT_EQ(ApiHookResult::kUnreadable, Check("sendto", "ws2_32.dll", false, PROCESS_QUERY_INFORMATION));
    // The handle is closed on every path.
    HANDLE process = OpenProcess(kHookAccess, FALSE, hooked_->Id());
    ASSERT_NE(nullptr, process);
    CheckApiHook("DnsQuery_A", "dnsapi.dll", false, process);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(process, &flags));
}

TEST_F(ApiHook, AHookInAProcessWithoutWormThreadsIsNeitherShownNorTouched) {
    WormThreadList::Instance().Clear();
    std::vector<ScanRecord> results;
    OutOfReachProcesses outOfReach;
    ScanApiHooks(results, outOfReach);
    for (const ScanRecord& record : results) EXPECT_NE(hooked_->Id(), record.processId);
    EXPECT_EQ(ApiHookResult::kHooked, Check("sendto", "ws2_32.dll")) << "left as it was";

    // The record names the process by the kernel's path of its image, without the drive.
    std::wstring path = scratch_ / L"hooked.exe";
    path = path.substr(path.find(L'\\') + 1);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, hooked_->Id());
    ASSERT_NE(nullptr, process);
    const ScanRecord record = ApiHookRecord(kHookedEntries[1], KernelImagePath(process), hooked_->Id());
    CloseHandle(process);
    EXPECT_EQ(4u, record.kind);
    EXPECT_EQ(L"API挂钩", record.title);
    EXPECT_EQ(L"进程:[" + path + L"] ID:[" + std::to_wstring(hooked_->Id()) + L"], API:[sendto]", record.detail);
    ScanRecord gone = record;
    gone.processId = 0x7FFFFFF0;  // no such process
    EXPECT_FALSE(RepairApiHookRecord(gone));
}

std::array<int, kHookedEntryCount> CodesEntryByEntry(HANDLE process) {
    std::array<int, kHookedEntryCount> codes = {};
    for (std::size_t i = 0; i < kHookedEntryCount; ++i) {
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
        codes[i] = CheckApiHook(kHookedEntries[i].entry, kHookedEntries[i].module, false, copy);
    }
    return codes;
}

TEST_F(ApiHook, TheScanStepSharesWorkButGivesWhatTestingEachEntryAloneGives) {
    std::vector<std::unique_ptr<FixtureProcess>> others;
    std::vector<std::wstring> readyFiles;
    for (int i = 0; i < 20; ++i) {
        readyFiles.push_back(scratch_ / (L"other" + std::to_wstring(i) + L".ready"));
        const std::wstring modules = i % 2 ? L" dnsapi.dll netapi32.dll" : L"";
        others.push_back(std::make_unique<FixtureProcess>(L"hooked_process.exe", scratch_.Path(), L"hooked.exe",
                                                          L"\"" + readyFiles.back() + L"\"" + modules));
    }
    std::vector<std::unique_ptr<FakeWorm>> worms;
    for (int i = 0; i < 10; ++i) worms.push_back(std::make_unique<FakeWorm>(scratch_ / L"worms", L"svchost.exe", L"-k netsvcs"));
    std::set<DWORD> ours = {hooked_->Id(), GetCurrentProcessId()};
    for (std::size_t i = 0; i < others.size(); ++i) {
        ASSERT_TRUE(WaitForFile(readyFiles[i]));
        ours.insert(others[i]->Id());
    }
    for (const auto& worm : worms) {
        ASSERT_TRUE(worm->Ready());
        ours.insert(worm->Process().Id());
    }

    // Hooked processes without worm threads, and worm hosts without hooks: nothing is the worm's.
    for (const ScanRecord& record : ScanLikeThePlugIn()) EXPECT_FALSE(ours.count(record.processId));

    // Codes too, whatever they are, on each of this test's processes, and on a handle that may not read
    // memory. Other processes of the machine belong to tests running beside this one: they load modules
    // between the two passes and would make the comparison a race.
    std::set<int> seen;
    ApiHookSweep sweep;
    for (DWORD id : ours) {
        HANDLE process = OpenProcess(kHookAccess, FALSE, id);
        if (!process) continue;
        const auto codes = sweep.CheckProcess(process);
        EXPECT_EQ(CodesEntryByEntry(process), codes) << "process " << id;
        seen.insert(codes.begin(), codes.end());
        CloseHandle(process);
    }
    for (int code : {ApiHookResult::kClean, ApiHookResult::kHooked, ApiHookResult::kUnresolved})
        EXPECT_TRUE(seen.count(code)) << "code " << code;
    HANDLE blind = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, hooked_->Id());
    ASSERT_NE(nullptr, blind);
    EXPECT_EQ(CodesEntryByEntry(blind), sweep.CheckProcess(blind));
    EXPECT_EQ(ApiHookResult::kUnreadable, sweep.CheckProcess(blind)[0]);
    CloseHandle(blind);
}

TEST_F(ApiHook, TheWormsHooksAreShownAndUndoneAndItsThreadsDoNotComeBack) {
    WormHost host(scratch_.Path(), L"");
    ASSERT_TRUE(host.Ready());
    const DWORD id = host.Worm().Process().Id();
    const std::vector<ScanRecord> results = ScanLikeThePlugIn();
    const std::vector<const ScanRecord*> hooks = RecordsOf(results, id);
    ASSERT_EQ(2u, hooks.size()) << "DnsQuery_A and DnsQuery_W, one row each";
    EXPECT_EQ(5u, hooks[0]->kind);
    EXPECT_EQ(6u, hooks[1]->kind);
    EXPECT_NE(std::wstring::npos, hooks[0]->detail.find(L"svchost.exe] ID:[" + std::to_wstring(id) + L"], API:[DnsQuery_A]"));

    // The hook keeps starting worm threads until it is undone.
    unsigned long calls = 0, runs = 0;
    long last = 0;
    const std::size_t foundAtScan = WormThreadList::Instance().Entries().size();
    ASSERT_TRUE(testsupport::WaitUntil([&] { host.Status(calls, runs, last); return runs >= 40; }, 20000));
    EXPECT_EQ(kWormsDnsAnswer, last);

    const std::vector<bool> repaired = RepairWormHooks(hooks);
    EXPECT_EQ(std::vector<bool>({true, true}), repaired);
    HANDLE look = OpenProcess(kHookAccess, FALSE, id);
    EXPECT_EQ(ApiHookResult::kClean, CheckApiHook("DnsQuery_A", "dnsapi.dll", false, look));
    EXPECT_GT(WormThreadList::Instance().Entries().size(), foundAtScan) << "the threads its hook started since";
    EXPECT_TRUE(TerminateWormThreads());

    // The host goes on resolving names, the hook no longer runs, and no worm thread comes back.
    host.Status(calls, runs, last);
    const unsigned long callsAfter = calls, runsAfter = runs;
    ASSERT_TRUE(testsupport::WaitUntil([&] { host.Status(calls, runs, last); return calls > callsAfter + 40; }, 20000));
    EXPECT_EQ(runsAfter, runs);
    EXPECT_NE(kWormsDnsAnswer, last);
    EXPECT_TRUE(host.Worm().Process().Running());
    EXPECT_TRUE(RecordsOf(ScanLikeThePlugIn(), id).empty());
    EXPECT_TRUE(WormThreadList::Instance().Empty()) << "a second scan finds nothing";
}

// The host names a pipe and a share for its hooked module in its loader list: the hook test never reads
// that name, so nothing connects to the pipe and the scan does not wait on it.
TEST_F(ApiHook, AModuleThatTheLoaderListNamesAPipeOrAShareIsStillReadFromTheSystemFolder) {
    const std::wstring pipeName = L"\\\\.\\pipe\\tidewash-hooked-" + std::to_wstring(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 0,
                                   0, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    OVERLAPPED connect = {};
    connect.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ConnectNamedPipe(pipe, &connect);
    WormHost toPipe(scratch_.Path(), L"--rename-dnsapi " + pipeName);
    WormHost toShare(scratch_.Path(), L"--rename-dnsapi \\\\tidewash-test\\share\\dnsapi.dll");
    ASSERT_TRUE(toPipe.Ready());
    ASSERT_TRUE(toShare.Ready());
    // What the old test would have opened.
    HMODULE modules[256] = {};
    DWORD needed = 0;
    wchar_t named[MAX_PATH] = {};
    HANDLE look = OpenProcess(kHookAccess, FALSE, toPipe.Worm().Process().Id());
    ASSERT_TRUE(EnumProcessModules(look, modules, sizeof modules, &needed));
    bool listsThePipe = false;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 256; ++i)
        listsThePipe = listsThePipe || (GetModuleFileNameExW(look, modules[i], named, MAX_PATH) && pipeName == named);
    CloseHandle(look);
    EXPECT_TRUE(listsThePipe);

    const DWORD started = GetTickCount();
    const std::vector<ScanRecord> results = ScanLikeThePlugIn();
    EXPECT_LT(GetTickCount() - started, 60000u);
    EXPECT_EQ(2u, RecordsOf(results, toPipe.Worm().Process().Id()).size());
    EXPECT_EQ(2u, RecordsOf(results, toShare.Worm().Process().Id()).size());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(connect.hEvent, 0)) << "something connected to the pipe";
    CancelIo(pipe);
    CloseHandle(connect.hEvent);
    CloseHandle(pipe);
}

TEST_F(ApiHook, HooksThatAreNotTheWormsAreLeftAlone) {
    WormHost intoModule(scratch_.Path(), L"--hook-into-module");
    WormHost relay(scratch_.Path(), L"--foreign-relay");
    ASSERT_TRUE(intoModule.Ready());
    ASSERT_TRUE(relay.Ready());
    LogCapture log("grimlet_api_hook_test.log");
    const std::vector<ScanRecord> results = ScanLikeThePlugIn();
    EXPECT_FALSE(WormThreadList::Instance().Empty()) << "both hosts have worm threads";
    for (const WormHost* host : {&intoModule, &relay}) {
        const DWORD id = host->Worm().Process().Id();
        EXPECT_TRUE(RecordsOf(results, id).empty()) << id;
        HANDLE look = OpenProcess(kHookAccess, FALSE, id);
        EXPECT_EQ(ApiHookResult::kHooked, CheckApiHook("DnsQuery_A", "dnsapi.dll", false, look)) << "untouched";
        EXPECT_TRUE(host->Worm().Process().Running());
    }
    EXPECT_EQ(1u, log.Count("left alone: it jumps into a module"));
    EXPECT_EQ(1u, log.Count("left alone: it jumps into private code that no worm thread shares"));
}

TEST(ApiHookPath, SystemPathsBecomeFilePaths) {
    char systemRoot[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableA("SystemRoot", systemRoot, MAX_PATH), 0u);
    EXPECT_EQ(std::string(systemRoot) + "\\System32\\smss.exe", NormaliseImagePath("\\SystemRoot\\System32\\smss.exe"));
    EXPECT_EQ("C:\\Windows\\x.exe", NormaliseImagePath("\\??\\C:\\Windows\\x.exe"));
    EXPECT_EQ("C:\\Windows\\x.exe", NormaliseImagePath("C:\\Windows\\x.exe"));
    EXPECT_EQ("\\lonely", NormaliseImagePath("\\lonely"));
    EXPECT_EQ("", NormaliseImagePath(""));
}

TEST(ApiHookTable, SevenEntriesInTestingOrder) {
    ASSERT_EQ(7u, kHookedEntryCount);
    for (std::size_t i = 0; i < kHookedEntryCount; ++i) EXPECT_EQ(3 + i, kHookedEntries[i].kind);
    EXPECT_STREQ("ZwQueryInformationProcess", kHookedEntries[0].entry);
    EXPECT_STREQ(L"ZwQuertInformationProcess", kHookedEntries[0].displayName);
    EXPECT_STREQ("netapi32.dll", kHookedEntries[6].module);
    // The export's own name is looked up; the finding keeps the name it has always shown.
    EXPECT_STREQ("NetpwPathCanonicalize", kHookedEntries[6].entry);
    EXPECT_STREQ(L"NetpwPathCannonicalize", kHookedEntries[6].displayName);
}

}  // namespace
