// The hook test on a process that patched ws2_32!sendto in its own memory, and its repair; the scan
// step's shared test against testing each entry alone, among 30 more processes.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <set>

#include "grimlet/hooks/ApiHookCheck.h"
#include "grimlet/hooks/ApiHookStep.h"
#include "grimlet/plugin/OutOfReachProcesses.h"
#include "tests/support/FixtureProcess.h"
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
    std::vector<ScanRecord> RecordsOfFixture() {
        std::vector<ScanRecord> mine;
        for (ScanRecord& record : CollectApiHookRecords())
            if (record.processId == hooked_->Id()) mine.push_back(std::move(record));
        return mine;
    }

    testsupport::ScratchFolder scratch_{L"apihook"};
    std::unique_ptr<FixtureProcess> hooked_;
};

TEST_F(ApiHook, DetectsAndRepairsAPatchedEntry) {
    if (!GetModuleHandleA("ws2_32.dll")) {
        // Resolved in this process: a module this process has not loaded cannot be resolved.
        EXPECT_EQ(ApiHookResult::kUnresolved, Check("sendto", "ws2_32.dll"));
        ASSERT_NE(nullptr, LoadLibraryA("ws2_32.dll"));
    }
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

TEST_F(ApiHook, TheScanStepFormsRecordsButKeepsThemOutOfTheResults) {
    LoadLibraryA("ws2_32.dll");
    const std::vector<ScanRecord> records = RecordsOfFixture();
    ASSERT_EQ(1u, records.size());
    const ScanRecord& record = records[0];
    EXPECT_EQ(4u, record.kind);
    EXPECT_EQ(L"API挂钩", record.title);
    // The process is named by its path without the drive.
    std::wstring path = scratch_ / L"hooked.exe";
    path = path.substr(path.find(L'\\') + 1);
    EXPECT_EQ(L"进程:[" + path + L"] ID:[" + std::to_wstring(hooked_->Id()) + L"], API:[sendto]", record.detail);

    std::vector<ScanRecord> results;
    OutOfReachProcesses outOfReach;
    ScanApiHooks(results, outOfReach);
    EXPECT_TRUE(results.empty());

    EXPECT_TRUE(RepairApiHookRecord(record));
    EXPECT_TRUE(RecordsOfFixture().empty());
    ScanRecord gone = record;
    gone.processId = 0x7FFFFFF0;  // no such process
    EXPECT_FALSE(RepairApiHookRecord(gone));
}

// The hook step as testing each entry alone gives it: the image path through a handle of its own, then
// one handle and one CheckApiHook call per entry.
std::vector<ScanRecord> RecordsEntryByEntry() {
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return {};
    ids.resize(bytes / sizeof(DWORD));
    std::vector<ScanRecord> records;
    for (DWORD id : ids) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
        if (!process) continue;
        char path[MAX_PATH] = {};
        const bool named = GetModuleFileNameExA(process, nullptr, path, MAX_PATH) != 0;
        CloseHandle(process);
        if (!named) continue;
        for (const HookedEntry& entry : kHookedEntries) {
            HANDLE hookHandle = OpenProcess(kHookAccess, FALSE, id);
            if (hookHandle && CheckApiHook(entry.entry, entry.module, false, hookHandle) == ApiHookResult::kHooked)
                records.push_back(ApiHookRecord(entry, NormaliseImagePath(path), id));
        }
    }
    return records;
}

// Other tests' processes may come and go between two passes over the machine: only ours are compared.
std::vector<std::wstring> DescribedFor(const std::vector<ScanRecord>& records, const std::set<DWORD>& ids) {
    std::vector<std::wstring> described;
    for (const ScanRecord& record : records)
        if (ids.count(record.processId))
            described.push_back(std::to_wstring(record.kind) + L"|" + record.title + L"|" + record.detail + L"|" +
                                std::to_wstring(record.processId));
    return described;
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
    // Every module of the table loaded here too, so that its entries resolve.
    for (const char* module : {"ws2_32.dll", "dnsapi.dll", "netapi32.dll"}) LoadLibraryA(module);
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

    const std::vector<std::wstring> shared = DescribedFor(CollectApiHookRecords(), ours);
    EXPECT_EQ(DescribedFor(RecordsEntryByEntry(), ours), shared);
    EXPECT_EQ(21u, shared.size()) << "sendto in each hooked process, nothing else";

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
}

}  // namespace
