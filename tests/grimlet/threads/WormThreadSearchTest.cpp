// The worm-thread search on real processes: a fake worm running as svchost.exe -k netsvcs and as
// services.exe, with threads whose code lies in memory it allocated.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "grimlet/hooks/ApiHookStep.h"
#include "grimlet/plugin/OutOfReachProcesses.h"
#include "grimlet/common/DescribeOs.h"
#include "grimlet/threads/CalibrationThread.h"
#include "grimlet/threads/NtApi.h"
#include "grimlet/threads/OsInfo.h"
#include "grimlet/threads/ProcessInfo.h"
#include "grimlet/threads/StackCalibration.h"
#include "grimlet/threads/StackImage.h"
#include "grimlet/threads/StackLayoutLearner.h"
#include "grimlet/threads/ThreadSnapshot.h"
#include "grimlet/threads/WormThreadList.h"
#include "grimlet/threads/WormThreadProof.h"
#include "grimlet/threads/WormThreadSearch.h"
#include "grimlet/threads/WormThreadStep.h"
#include "grimlet/threads/WormThreadTermination.h"
#include "platform/log/Logger.h"
#include "platform/system/Wow64.h"
#include "platform/win32/KernelHandle.h"
#include "tests/support/FixtureProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestSupport.h"

using namespace grimlettest;

namespace {

std::vector<DWORD> FoundIds() {
    std::vector<DWORD> ids;
    for (const auto& entry : WormThreadList::Instance().Entries()) ids.push_back(entry.threadId);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::vector<DWORD> Sorted(std::vector<DWORD> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool Contains(const std::vector<DWORD>& ids, DWORD id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

uint64_t CreationTimeOf(DWORD threadId) {
    KernelHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId));
    uint64_t time = 0;
    if (thread.IsValid()) WormThreadProof::CreationTime(thread.Get(), time);
    return time;
}

// How often the thread is suspended now (a clean must leave every thread as it found it).
DWORD SuspendCount(DWORD threadId) {
    KernelHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId));
    if (!thread.IsValid()) return static_cast<DWORD>(-1);
    const DWORD count = SuspendThread(thread.Get());
    ResumeThread(thread.Get());
    return count;
}

// Passes the system's module listing through, with one fault.
class FaultyLister : public ModuleLister {
public:
    enum Fault { FailsOnTheSecondModule, GrowsOnEveryCall, ChangesBetweenReads, LacksKernel32 };
    // With `onlyIn`, the fault is that one process's: the prefix may run other svchost.exe -k netsvcs
    // (Wine's Task Scheduler), which must not take it.
    explicit FaultyLister(Fault fault, DWORD onlyIn = 0) : fault_(fault), onlyIn_(onlyIn) {}

    bool Enumerate(HANDLE process, HMODULE* modules, DWORD bytes, DWORD& needed) const override {
        if (onlyIn_ != 0 && GetProcessId(process) != onlyIn_) return System().Enumerate(process, modules, bytes, needed);
        ++enumerations_;
        std::vector<HMODULE> all(512);
        if (!System().Enumerate(process, all.data(), static_cast<DWORD>(all.size() * sizeof(HMODULE)), needed))
            return false;
        all.resize(needed / sizeof(HMODULE));
        if (fault_ == ChangesBetweenReads && enumerations_ > 1) all.pop_back();
        if (fault_ == LacksKernel32) all.erase(std::remove(all.begin(), all.end(), GetModuleHandleW(L"kernel32.dll")), all.end());
        needed = static_cast<DWORD>(all.size() * sizeof(HMODULE));
        if (fault_ == GrowsOnEveryCall) needed = bytes + 8 * sizeof(HMODULE);
        memcpy(modules, all.data(), std::min<DWORD>(bytes, static_cast<DWORD>(all.size() * sizeof(HMODULE))));
        return true;
    }
    bool Describe(HANDLE process, HMODULE module, MODULEINFO& information) const override {
        if (onlyIn_ != 0 && GetProcessId(process) != onlyIn_) return System().Describe(process, module, information);
        if (fault_ == FailsOnTheSecondModule && ++descriptions_ == 2) return false;
        return System().Describe(process, module, information);
    }

private:
    Fault fault_;
    DWORD onlyIn_;
    mutable int enumerations_ = 0;
    mutable int descriptions_ = 0;
};

// Runs `function` on a fresh thread, as the host runs Initialize on a worker thread.
template <typename Function>
void OnFreshThread(Function function) {
    std::thread(function).join();
}

int Search(const std::wstring& image, const std::wstring& filter) {
    ThreadSnapshot::Instance().Refill();
    WormThreadList::Instance().Clear();
    return FindWormThreads(image, filter);
}

// The layout as Initialize proves it, on a worker thread as the host runs it.
void ProveAsInitializeDoes() {
    OnFreshThread([] { SetUpOsInfo(); });
}

// The constants table of this system with marks that no stack holds: its check must fail.
void UseTableThatReadsNothing() {
    OsInfo& os = OsInfo::Instance();
    os.SetStackConstants(IsWow64());
    os.markA = 0x7;
    os.markB = 0x7;
}

// Learns what the product learns, then moves the start one word off: a layout that cannot verify.
class MisLearner : public StackLayoutLearner {
public:
    MisLearner() : StackLayoutLearner(&IsSystemReturnAddress) {}
    bool Learn(const StackImage& bare, const StackImage& carrying, StackWord start, OsInfo& os) const override {
        if (!StackLayoutLearner::Learn(bare, carrying, start, os)) return false;
        ++os.pickA;
        ++os.pickB;
        return true;
    }
};

// A thread's start: `entered` is set once the system's start-up code has handed over, and the thread
// then waits for `release`.
struct ThreadGate {
    HANDLE entered;
    HANDLE release;
};
DWORD WINAPI EnterAndWait(LPVOID parameter) {
    const ThreadGate* gate = static_cast<const ThreadGate*>(parameter);
    SetEvent(gate->entered);
    return WaitForSingleObject(gate->release, 10000);
}

// A jump to `target`, so that a thread started at `code` runs `target` on an untouched start-up stack.
void WriteJump(unsigned char* code, LPTHREAD_START_ROUTINE target) {
    const auto address = reinterpret_cast<uintptr_t>(target);
#ifdef _WIN64
    code[0] = 0x48;  // mov rax, imm64
    code[1] = 0xB8;
    memcpy(code + 2, &address, sizeof address);
    code[10] = 0xFF;  // jmp rax
    code[11] = 0xE0;
#else
    code[0] = 0xB8;  // mov eax, imm32
    memcpy(code + 1, &address, sizeof address);
    code[5] = 0xFF;  // jmp eax
    code[6] = 0xE0;
#endif
    FlushInstructionCache(GetCurrentProcess(), code, 16);
}

class WormThreadSearch : public testing::Test {
protected:
    void SetUp() override {
        saved_ = OsInfo::Instance();
        ProveAsInitializeDoes();
        ASSERT_TRUE(OsInfo::Instance().HasStackMarks()) << "no stack layout proved itself here";
    }
    void TearDown() override {
        OsInfo::Instance() = saved_;
        WormThreadList::Instance().Clear();
    }
    std::wstring Folder(const wchar_t* name) { return scratch_ / name; }

    testsupport::ScratchFolder scratch_{L"wormthreads"};
    OsInfo saved_;
};

TEST_F(WormThreadSearch, TheProvenLayoutMarksAReturnAddressIntoTheSystem) {
    const OsInfo& os = OsInfo::Instance();
    EXPECT_TRUE(IsSystemReturnAddress(os.markA) || IsSystemReturnAddress(os.markB));
    EXPECT_TRUE(os.markA == 0 || IsSystemReturnAddress(os.markA));
    EXPECT_TRUE(os.markB == 0 || IsSystemReturnAddress(os.markB));
    // Proving it once more finds it good as it stands.
    const OsInfo before = os;
    EXPECT_EQ(StackLayoutSource::Table, ProveStackLayout(StackLayoutLearner(&IsSystemReturnAddress)));
    EXPECT_EQ(before.markA, os.markA);
    EXPECT_EQ(before.depthB, os.depthB);
}

TEST_F(WormThreadSearch, ATableThatReadsNothingBackEndsInALearnedLayoutThatFindsTheWorm) {
    UseTableThatReadsNothing();
    EXPECT_EQ(StackLayoutSource::Learned, ProveStackLayout(StackLayoutLearner(&IsSystemReturnAddress)));
    EXPECT_TRUE(OsInfo::Instance().HasStackMarks());
    FakeWorm worm(Folder(L"learned"), L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    EXPECT_EQ(1, Search(L"svchost.exe", L"-k netsvcs"));
    EXPECT_EQ(Sorted(worm.Threads().foreign), FoundIds());
}

TEST_F(WormThreadSearch, ALearnedLayoutThatDoesNotVerifyLeavesTheSearchUnavailableAndSaysSo) {
    LogCapture log("worm_thread_test.log");
    UseTableThatReadsNothing();
    EXPECT_EQ(StackLayoutSource::None, ProveStackLayout(MisLearner()));
    EXPECT_FALSE(OsInfo::Instance().HasStackMarks());
    FakeWorm worm(Folder(L"unproven"), L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    std::vector<ScanRecord> results;
    OutOfReachProcesses outOfReach;
    ScanWormThreads(results, outOfReach);
    EXPECT_TRUE(results.empty());
    EXPECT_TRUE(WormThreadList::Instance().Empty());
    EXPECT_NE(0u, log.Count("[.] Stack layout [none]"));
    EXPECT_NE(0u, log.Count("[*] Worm-thread search unavailable"));
    EXPECT_NE(0u, log.Count("[*] Worm-thread search skipped")) << "said again by the scan";
}

TEST_F(WormThreadSearch, AHealthyPrefixGivesNoThreadRecord) {
    // The prefix's own services and service hosts, and processes with foreign threads that the worm
    // does not use: other service groups, other programs.
    std::vector<std::unique_ptr<FakeWorm>> others;
    for (int i = 0; i < 4; ++i) {
        others.push_back(std::make_unique<FakeWorm>(Folder(L"local"), L"svchost.exe", L"-k LocalService"));
        others.push_back(std::make_unique<FakeWorm>(Folder(L"other"), L"other.exe", L"-k netsvcs"));
    }
    for (const auto& other : others) ASSERT_TRUE(other->Ready());
    std::vector<ScanRecord> results;
    OutOfReachProcesses outOfReach;
    ScanWormThreads(results, outOfReach);
    EXPECT_TRUE(results.empty());
    EXPECT_TRUE(WormThreadList::Instance().Empty());
}

TEST_F(WormThreadSearch, FindsExactlyTheForeignThreadsOfANetsvcsHost) {
    // Mixed case on the command line: it is lower-cased before the filter is looked for.
    FakeWorm worm(Folder(L"host"), L"svchost.exe", L"-k NetSvcs");
    ASSERT_TRUE(worm.Ready());
    ASSERT_EQ(2u, worm.Threads().foreign.size());
    EXPECT_EQ(1, Search(L"svchost.exe", L"-k netsvcs"));
    // Both foreign threads: the one without a parameter (first pick) and the one with (second pick).
    EXPECT_EQ(Sorted(worm.Threads().foreign), FoundIds());
    for (const auto& entry : WormThreadList::Instance().Entries()) EXPECT_EQ(worm.Process().Id(), entry.processId);
}

TEST_F(WormThreadSearch, AStartAtTheEndOfAModuleCountsAsInside) {
    FakeWorm worm(Folder(L"edge"), L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    if (worm.Threads().edge.empty()) GTEST_SKIP() << "the address just past the image was taken";
    Search(L"svchost.exe", L"-k netsvcs");
    EXPECT_FALSE(Contains(FoundIds(), worm.Threads().edge[0]));
    EXPECT_FALSE(Contains(FoundIds(), worm.Threads().own[0]));
    EXPECT_TRUE(Contains(FoundIds(), worm.Threads().foreign[0]));
}

TEST_F(WormThreadSearch, ServicesExeMatchesWhateverItsCommandLine) {
    FakeWorm services(Folder(L"scm"), L"services.exe", L"");
    FakeWorm otherGroup(Folder(L"other"), L"svchost.exe", L"-k LocalService");
    ASSERT_TRUE(services.Ready());
    ASSERT_TRUE(otherGroup.Ready());
    std::vector<ScanRecord> results;
    OutOfReachProcesses outOfReach;
    ScanWormThreads(results, outOfReach);
    ASSERT_EQ(1u, results.size());  // one record, however many threads
    EXPECT_EQ(kScanRecordWormThreads, results[0].kind);
    EXPECT_EQ(L"GRIMLET线程:", results[0].title);
    EXPECT_EQ(L"由病毒创建的恶意线程", results[0].detail);
    const std::vector<DWORD> found = FoundIds();
    for (DWORD id : services.Threads().foreign) EXPECT_TRUE(Contains(found, id));
    for (DWORD id : otherGroup.Threads().foreign) EXPECT_FALSE(Contains(found, id)) << "another svchost group";
}

TEST_F(WormThreadSearch, TheTargetsPairImageAndCommandFilter) {
    const auto targets = WormThreadTargets();
    ASSERT_EQ(2u, targets.size());
    EXPECT_EQ(L"svchost.exe", targets[0].first);
    EXPECT_EQ(L"-k netsvcs", targets[0].second);
    EXPECT_EQ(L"services.exe", targets[1].first);
    EXPECT_EQ(L"", targets[1].second);
}

TEST_F(WormThreadSearch, ACommandLineOver2048BytesIsNotRead) {
    FakeWorm longLine(Folder(L"long"), L"svchost.exe", L"-k netsvcs " + std::wstring(1100, L'x'));
    ASSERT_TRUE(longLine.Ready());
    EXPECT_EQ(0, Search(L"svchost.exe", L"-k netsvcs"));

    ProcessInfo process(longLine.Process().Id());
    EXPECT_EQ(L"svchost.exe", process.BaseName());
    EXPECT_EQ(L"", process.CommandLine());
}

TEST_F(WormThreadSearch, ReadsImageCommandLineAndModulesOfAnotherProcess) {
    FakeWorm worm(Folder(L"info"), L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    ProcessInfo process(worm.Process().Id());
    EXPECT_EQ(worm.Process().CommandLine(), process.CommandLine());
    EXPECT_EQ(L"svchost.exe", process.BaseName());
    EXPECT_NE(std::wstring::npos, process.ImagePath().find(L"\\svchost.exe"));
    EXPECT_TRUE(process.Matches(L"SVCHOST.EXE", L"-k netsvcs"));
    EXPECT_FALSE(process.Matches(L"svchost.exe", L"-k NETSVCS"));  // the filter is taken as it is
    ASSERT_EQ(ModuleListing::Complete, process.FillModuleList());
    EXPECT_GE(process.Modules().size(), 3u);  // the image, ntdll, kernel32 at least
    const ModuleInfo& image = process.Modules().front();
    EXPECT_TRUE(process.InAnyModule(image.base));
    EXPECT_TRUE(process.InAnyModule(image.base + image.size));  // the end is included
}

TEST_F(WormThreadSearch, ItsOwnProcessIsNeverSearched) {
    // A foreign thread in this very process, which the stack test alone would recognise.
    auto* code = static_cast<unsigned char*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    ASSERT_NE(nullptr, code);
    WriteJump(code, EnterAndWait);
    KernelHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    KernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    static ThreadGate gate;  // outlives the test should the thread be late
    gate = {entered.Get(), release.Get()};
    KernelHandle thread(CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(code), &gate, 0, nullptr));
    ASSERT_TRUE(thread.IsValid());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(entered.Get(), 30000));
    ProcessInfo self(GetCurrentProcessId());
    EXPECT_TRUE(StackShowsStart(self, thread.Get(), reinterpret_cast<StackWord>(code)));

    EXPECT_EQ(0, Search(self.BaseName(), L""));
    SetEvent(release.Get());
    WaitForSingleObject(thread.Get(), 5000);
    VirtualFree(code, 0, MEM_RELEASE);
}

TEST_F(WormThreadSearch, TerminationEndsExactlyTheFoundThreads) {
    FakeWorm worm(Folder(L"kill"), L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    ASSERT_EQ(1, Search(L"svchost.exe", L"-k netsvcs"));
    ASSERT_EQ(Sorted(worm.Threads().foreign), FoundIds());

    EXPECT_TRUE(TerminateWormThreads());  // waits until they have ended
    for (DWORD id : worm.Threads().foreign) EXPECT_FALSE(ThreadRunning(id));
    for (DWORD id : worm.Threads().own) EXPECT_TRUE(ThreadRunning(id)) << "the module's own thread runs on";
    for (DWORD id : worm.Threads().own) EXPECT_EQ(0u, SuspendCount(id));
    EXPECT_TRUE(worm.Process().Running());
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));

    // A second clean finds them gone, which is what was asked; the list is kept.
    LogCapture log("worm_thread_test.log");
    EXPECT_TRUE(TerminateWormThreads());
    EXPECT_EQ(2u, log.Count("] has already ended"));
    EXPECT_EQ(2u, WormThreadList::Instance().Entries().size());
}

TEST_F(WormThreadSearch, TerminationSparesAThreadThatIsNoLongerTheOneFound) {
    FakeWorm worm(Folder(L"reuse"), L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    WormThreadList::Instance().Clear();
    EXPECT_TRUE(TerminateWormThreads());  // nothing to do is success
    const DWORD ordinary = worm.Threads().own[0];
    const std::string id = std::to_string(ordinary);
    LogCapture log("worm_thread_test.log");
    // The id of a worm thread that ended, since handed to an ordinary thread: the found one is gone.
    WormThreadList::Instance().Add({ordinary, worm.Process().Id(), 0x10000, CreationTimeOf(ordinary) - 1});
    EXPECT_TRUE(TerminateWormThreads());
    EXPECT_EQ(1u, log.Count("Thread [" + id + "] has already ended"));
    // That very thread, which does not prove to be the worm's when it comes to the clean.
    WormThreadList::Instance().Clear();
    WormThreadList::Instance().Add({ordinary, worm.Process().Id(), 0x10000, CreationTimeOf(ordinary)});
    EXPECT_FALSE(TerminateWormThreads());
    EXPECT_EQ(1u, log.Count("Thread [" + id + "] left running: it starts in a module of its process"));
    EXPECT_EQ(0u, log.Count("Terminate thread ["));
    EXPECT_TRUE(ThreadRunning(ordinary));
    EXPECT_EQ(0u, SuspendCount(ordinary)) << "resumed after the test";
}

TEST_F(WormThreadSearch, ThreadsThatStopQualifyingBeforeTheCleanAreLeftRunning) {
    FakeWorm worm(Folder(L"requalify"), L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    ASSERT_EQ(1, Search(L"svchost.exe", L"-k netsvcs"));
    // Both foreign threads start in one page, which is no longer executable code when the clean comes.
    DWORD previous = 0;
    const auto start = reinterpret_cast<void*>(WormThreadList::Instance().Entries()[0].startAddress);
    ASSERT_TRUE(VirtualProtectEx(worm.Process().Handle(), start, 1, PAGE_READWRITE, &previous));
    LogCapture log("worm_thread_test.log");
    EXPECT_FALSE(TerminateWormThreads());
    EXPECT_EQ(2u, log.Count("left running: it does not start in private executable memory"));
    for (DWORD id : worm.Threads().foreign) {
        EXPECT_TRUE(ThreadRunning(id));
        EXPECT_EQ(0u, SuspendCount(id));
    }
}

TEST_F(WormThreadSearch, AThreadHoldingTheLoaderLockIsLeftRunningAndTheOthersEnd) {
    FakeWorm worm(Folder(L"locker"), L"svchost.exe", L"-k netsvcs --hold-loader-lock");
    ASSERT_TRUE(worm.Ready());
    ASSERT_EQ(1u, worm.Threads().locker.size());
    ASSERT_EQ(1, Search(L"svchost.exe", L"-k netsvcs"));
    ASSERT_TRUE(Contains(FoundIds(), worm.Threads().locker[0]));
    LogCapture log("worm_thread_test.log");
    EXPECT_FALSE(TerminateWormThreads());
    EXPECT_EQ(1u, log.Count("left running: it holds the loader lock of its process"));
    EXPECT_TRUE(ThreadRunning(worm.Threads().locker[0]));
    for (DWORD id : worm.Threads().foreign) EXPECT_FALSE(ThreadRunning(id));
}

// Ending a thread that stands in a module's code could leave a heap, loader or socket lock held: a
// worm thread running on in the image is let run and looked at again, then left running; those that
// wait in the worm's own memory end.
TEST_F(WormThreadSearch, AThreadBusyInAModulesCodeIsLeftRunningAndThoseWaitingInTheWormsMemoryEnd) {
    FakeWorm worm(Folder(L"busy"), L"svchost.exe", L"-k netsvcs --busy-in-module");
    ASSERT_TRUE(worm.Ready());
    ASSERT_EQ(1u, worm.Threads().busy.size());
    ASSERT_EQ(1, Search(L"svchost.exe", L"-k netsvcs"));
    ASSERT_TRUE(Contains(FoundIds(), worm.Threads().busy[0]));
    LogCapture log("worm_thread_test.log");
    EXPECT_FALSE(TerminateWormThreads());
    EXPECT_EQ(1u, log.Count("left running: it stands in a module's code, where it may hold a lock"));
    EXPECT_TRUE(ThreadRunning(worm.Threads().busy[0]));
    EXPECT_EQ(0u, SuspendCount(worm.Threads().busy[0]));
    for (DWORD id : worm.Threads().foreign) EXPECT_FALSE(ThreadRunning(id));
    EXPECT_TRUE(worm.Process().Running());
}

TEST_F(WormThreadSearch, AThreadInAnImageViewOutsideTheLoaderListIsNoWormThread) {
    FakeWorm lookAlike(Folder(L"lookalike"), L"svchost.exe", L"-k netsvcs --look-alike");
    ASSERT_TRUE(lookAlike.Ready());
    ASSERT_EQ(1u, lookAlike.Threads().imageView.size());
    const DWORD viewThread = lookAlike.Threads().imageView[0];
    std::vector<ScanRecord> results;
    OutOfReachProcesses outOfReach;
    ScanWormThreads(results, outOfReach);
    EXPECT_TRUE(results.empty());
    EXPECT_FALSE(Contains(FoundIds(), viewThread));

    // What sets it apart: its stack shows its start, which lies in no module, but in an image view.
    ProcessInfo process(lookAlike.Process().Id());
    ASSERT_EQ(ModuleListing::Complete, process.FillModuleList());
    KernelHandle thread(OpenThread(THREAD_ALL_ACCESS, FALSE, viewThread));
    uintptr_t start = 0;
    EXPECT_EQ(ThreadVerdict::NotPrivateCode, WormThreadProof::Examine(process, thread.Get(), start));
    MEMORY_BASIC_INFORMATION memory = {};
    ASSERT_NE(0u, VirtualQueryEx(process.Handle(), reinterpret_cast<void*>(start), &memory, sizeof memory));
    EXPECT_EQ(static_cast<DWORD>(MEM_IMAGE), memory.Type);
    EXPECT_TRUE(StackShowsStart(process, thread.Get(), start));

    // Even a clean told to end it leaves it running.
    WormThreadList::Instance().Add({viewThread, process.Id(), start, CreationTimeOf(viewThread)});
    EXPECT_FALSE(TerminateWormThreads());
    EXPECT_TRUE(ThreadRunning(viewThread));
}

TEST_F(WormThreadSearch, AModuleListThatCannotBeReadWholeSkipsTheProcess) {
    FakeWorm worm(Folder(L"lister"), L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    const std::string skipped = "Process [" + std::to_string(worm.Process().Id()) + "] skipped: its module list ";
    const struct {
        FaultyLister::Fault fault;
        ModuleListing listing;
        const char* logged;
    } cases[] = {
        {FaultyLister::FailsOnTheSecondModule, ModuleListing::Unreadable, "could not be read completely"},
        {FaultyLister::GrowsOnEveryCall, ModuleListing::Unreadable, "could not be read completely"},
        {FaultyLister::ChangesBetweenReads, ModuleListing::Changed, "changed while it was read"},
        {FaultyLister::LacksKernel32, ModuleListing::LacksSystemModules, "lacks the image, ntdll or kernel32"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        LogCapture log("worm_thread_test.log");
        ThreadSnapshot::Instance().Refill();
        WormThreadList::Instance().Clear();
        EXPECT_EQ(0, FindWormThreads(L"svchost.exe", L"-k netsvcs", nullptr, FaultyLister(c.fault, worm.Process().Id())));
        EXPECT_TRUE(WormThreadList::Instance().Empty());
        EXPECT_EQ(1u, log.Count(skipped + c.logged));
        ProcessInfo process(worm.Process().Id());
        EXPECT_EQ(c.listing, process.FillModuleList(FaultyLister(c.fault)));
        EXPECT_TRUE(process.Modules().empty()) << "a partial list is never kept";
    }
    EXPECT_EQ(1, Search(L"svchost.exe", L"-k netsvcs")) << "the system's own listing finds it";
}

TEST_F(WormThreadSearch, ACalibrationThatTimesOutNeverWritesLater) {
    OsInfo xp;
    xp.versionCode = kOsWindowsXp;
    xp.SetStackConstants(false);
    const OsInfo before = OsInfo::Instance();
    KernelHandle gate(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    StackWord mark = 0x1234;
    {
        CalibrationThread late(xp, gate.Get());
        EXPECT_FALSE(late.Wait(0, mark));
        EXPECT_EQ(0x1234u, mark);
        SetEvent(gate.Get());
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(late.Thread(), 10000));
    }
    EXPECT_EQ(0, memcmp(&before, &OsInfo::Instance(), sizeof before));
    // One that finishes in time hands over its mark: a return address into the system, or none.
    CalibrationThread onTime(xp);
    ASSERT_TRUE(onTime.Wait(10000, mark));
    EXPECT_TRUE(mark == 0 || IsSystemReturnAddress(mark));
}

TEST_F(WormThreadSearch, ProcessesAndThreadsThatEndDuringTheSearchAreSkipped) {
    std::vector<std::unique_ptr<FixtureProcess>> shortLived;
    for (int i = 0; i < 6; ++i)
        shortLived.push_back(std::make_unique<FixtureProcess>(
            L"fake_worm.exe", Folder(L"churn"), L"svchost.exe",
            L"-k netsvcs --churn --exit-after " + std::to_wstring(100 + 150 * i)));
    FakeWorm steady(Folder(L"steady"), L"svchost.exe", L"-k netsvcs --churn");
    ASSERT_TRUE(steady.Ready());
    for (int round = 0; round < 6; ++round) {
        CollectApiHookRecords();  // opens every process seven times while some of them end
        Search(L"svchost.exe", L"-k netsvcs");
        for (DWORD id : steady.Threads().foreign) EXPECT_TRUE(Contains(FoundIds(), id)) << "round " << round;
        EXPECT_FALSE(Contains(FoundIds(), steady.Threads().own[0]));
    }
    std::vector<ScanRecord> results;
    OutOfReachProcesses outOfReach;
    ScanWormThreads(results, outOfReach);
    EXPECT_EQ(1u, results.size());
}

// What the product finds with the layout it proves on this system (printed for the record): exactly
// both foreign threads of a fake worm, never a thread of a module.
TEST(WormThreadSearchShipped, TheProductsOwnLayoutFindsBothForeignThreads) {
    const OsInfo saved = OsInfo::Instance();
    ProveAsInitializeDoes();
    const OsInfo& os = OsInfo::Instance();
    std::printf("system code 0x%08X major %u: depths %d/%d picks %d/%d, marks %p %p\n",
                static_cast<unsigned>(os.versionCode), static_cast<unsigned>(os.majorVersion), os.depthA, os.depthB,
                os.pickA, os.pickB, reinterpret_cast<void*>(os.markA), reinterpret_cast<void*>(os.markB));
    EXPECT_TRUE(os.HasStackMarks());
    EXPECT_TRUE(os.markA == 0 || IsSystemReturnAddress(os.markA));
    EXPECT_TRUE(os.markB == 0 || IsSystemReturnAddress(os.markB));

    testsupport::ScratchFolder scratch(L"shipped");
    FakeWorm worm(scratch / L"host", L"svchost.exe", L"-k netsvcs");
    ASSERT_TRUE(worm.Ready());
    EXPECT_EQ(1, Search(L"svchost.exe", L"-k netsvcs"));
    EXPECT_EQ(Sorted(worm.Threads().foreign), FoundIds());
    for (DWORD id : worm.Threads().own) EXPECT_FALSE(Contains(FoundIds(), id));
    WormThreadList::Instance().Clear();
    OsInfo::Instance() = saved;
}

}  // namespace
