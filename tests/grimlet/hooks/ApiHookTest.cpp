// The hook test on a process that patched ws2_32!sendto in its own memory, and its repair.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

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
