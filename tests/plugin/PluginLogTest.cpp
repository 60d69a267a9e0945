// grimlet.dll's own log: deleted whenever the DLL is loaded, written only when "DebugLevel" says so,
// beside the host executable (here the test program) and apart from the host's own log.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/system/OsVersion.h"
#include "tests/plugin/TestPluginHost.h"
#include "tests/support/TestSupport.h"

using namespace testhost;
using namespace testsupport;

namespace {

std::wstring PluginLogPath() { return ThisProgramFolder() + L"\\plugin.GRIMLET CLEANER.log"; }
std::wstring HostLogPath() { return ThisProgramFolder() + L"\\qvcleantool.log"; }

bool HasLine(const std::vector<std::string>& lines, const std::string& letter, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find("[" + letter + "] " + text + "[PluginGeneralImpl(") != std::string::npos) return true;
    }
    return false;
}

// The number in the scan's "Skipped %d 64-bit processes..." line; -1 when there is none, -2 when
// there is more than one.
int SkippedProcessCount(const std::vector<std::string>& lines) {
    const std::string before = "[.] Skipped ", after = " 64-bit processes that a 32-bit plug-in cannot examine[";
    int count = -1;
    for (const std::string& line : lines) {
        const std::size_t at = line.find(before);
        if (at == std::string::npos || line.find(after) == std::string::npos) continue;
        if (count != -1) return -2;
        count = std::atoi(line.c_str() + at + before.size());
    }
    return count;
}

// The 64-bit processes running now, as this process sees them: none unless this is the 32-bit build
// under WOW64.
std::set<DWORD> SixtyFourBitProcesses() {
    std::set<DWORD> found;
    BOOL selfWow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &selfWow64) || !selfWow64) return found;
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return found;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ids[i]);
        if (!process) continue;
        BOOL wow64 = TRUE;
        if (IsWow64Process(process, &wow64) && !wow64) found.insert(ids[i]);
        CloseHandle(process);
    }
    return found;
}

class PluginLog : public ::testing::Test {
protected:
    void SetUp() override {
        DebugLevelValue::Remove();
        DeleteFileW(PluginLogPath().c_str());
        DeleteFileW(HostLogPath().c_str());
    }
    void TearDown() override {
        DebugLevelValue::Remove();
        DeleteFileW(PluginLogPath().c_str());
    }

    // Loads the DLL, registers it with a test host, scans, cleans one unknown id, and unloads it.
    static void DriveOnce() {
        TestPluginHelper host;
        PluginDll dll(GrimletDllPath());
        ASSERT_NE(dll.Module(), nullptr);
        ASSERT_EQ(dll.Factory()(&host), 1);
        TestPluginReporter reporter;
        host.GeneralHandler()->SetReporter(&reporter);
        host.GeneralHandler()->Scan();
        const int ids[] = {5};
        host.GeneralHandler()->Clean(ids, 1);
        host.ReleaseHandlers();
    }
};

TEST_F(PluginLog, AnOldLogGoesWhenTheDllLoadsAndNoneIsWrittenWhileLoggingIsOff) {
    ASSERT_TRUE(WriteFileBytes(PluginLogPath(), "a log of an earlier run\n"));
    {
        PluginDll dll(GrimletDllPath());
        ASSERT_NE(dll.Module(), nullptr);
        EXPECT_FALSE(FileExists(PluginLogPath()));
    }
    DriveOnce();
    EXPECT_FALSE(FileExists(PluginLogPath()));
    EXPECT_FALSE(FileExists(HostLogPath()));
}

TEST_F(PluginLog, TheHandlersOperationsAreTracedInThePluginsOwnFile) {
    DebugLevelValue level(0x2200007F);  // file, the program's category, every level
    const std::set<DWORD> sixtyFourBitBefore = SixtyFourBitProcesses();
    DriveOnce();
    const std::set<DWORD> sixtyFourBitAfter = SixtyFourBitProcesses();
    const std::vector<std::string> lines = SplitLines(ReadFileBytes(PluginLogPath()));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("LOG START"), std::string::npos);
    EXPECT_NE(lines[0].find("plugin.GRIMLET CLEANER.log"), std::string::npos);
    EXPECT_TRUE(HasLine(lines, "I", "PluginGeneralImpl::Initialize()"));
    // The description the host's unattended report also shows.
    EXPECT_TRUE(HasLine(lines, "-", "System: " + Narrow(DescribeRunningSystem(), CP_ACP)));
    EXPECT_TRUE(HasLine(lines, "O", "PluginGeneralImpl::Initialize()"));
    EXPECT_TRUE(HasLine(lines, "I", "PluginGeneralImpl::Scan()"));
    EXPECT_TRUE(HasLine(lines, "O", "PluginGeneralImpl::Scan()"));
    EXPECT_TRUE(HasLine(lines, ".", "PluginGeneralImpl::Clean(5)"));
    // Initialize says which stack layout the thread search uses, one that proved itself here.
    std::size_t layoutLines = 0;
    for (const std::string& line : lines) {
        if (line.find("[.] Stack layout [") == std::string::npos) continue;
        ++layoutLines;
        EXPECT_TRUE(line.find("[table]") != std::string::npos || line.find("[learned]") != std::string::npos) << line;
    }
    EXPECT_EQ(1u, layoutLines);
    for (const std::string& line : lines) EXPECT_EQ(std::string::npos, line.find("[*] Worm-thread search")) << line;
    EXPECT_FALSE(FileExists(HostLogPath()));  // the host's log is another logger's

    // One line per scan counts the 64-bit processes that the 32-bit plug-in passed over: at least every
    // one that ran all through the scan (in a 64-bit Wine prefix, Wine's own services.exe among them);
    // none where the plug-in is itself 64-bit.
    std::vector<DWORD> throughout;
    std::set_intersection(sixtyFourBitBefore.begin(), sixtyFourBitBefore.end(), sixtyFourBitAfter.begin(),
                          sixtyFourBitAfter.end(), std::back_inserter(throughout));
    const int skipped = SkippedProcessCount(lines);
    if (IsI686Tier()) {
        EXPECT_FALSE(throughout.empty()) << "no 64-bit process to pass over";
        EXPECT_GE(skipped, static_cast<int>(throughout.size()));
    } else {
        EXPECT_EQ(0, skipped);
    }

    // Loading the DLL again starts a fresh file.
    DriveOnce();
    const std::vector<std::string> again = SplitLines(ReadFileBytes(PluginLogPath()));
    EXPECT_EQ(again.size(), lines.size());
}

}  // namespace
