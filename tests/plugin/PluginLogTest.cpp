// grimlet.dll's own log: deleted whenever the DLL is loaded, written only when "DebugLevel" says so,
// beside the host executable (here the test program) and apart from the host's own log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/OsVersion.h"
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
    DriveOnce();
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
    EXPECT_FALSE(FileExists(HostLogPath()));  // the host's log is another logger's

    // Loading the DLL again starts a fresh file.
    DriveOnce();
    const std::vector<std::string> again = SplitLines(ReadFileBytes(PluginLogPath()));
    EXPECT_EQ(again.size(), lines.size());
}

}  // namespace
