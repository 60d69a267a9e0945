#include <gtest/gtest.h>

#include <regex>

#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

std::wstring ProductExe() { return ProductFolder() + L"\\Tidewash.exe"; }
std::wstring ProductLog() { return ProductFolder() + L"\\qvcleantool.log"; }

// Starts the program, closes its dialog as a user would and returns the exit code (the dialog's result).
int RunAndCloseDialog(const std::wstring& currentDirectory) {
    MessageBoxAnswerer closer(L"GRIMLET专杀工具");
    return closer.Run(ProductExe(), currentDirectory, true).exitCode;
}

TEST(StartUp, ReplacesAnOldWorkFolderWithReadOnlyFilesAndLogsWithTheConfiguredMask) {
    ScratchFolder scratch;
    std::wstring work = scratch / L"GRIMLET专杀";
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((work + L"\\old").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(work + L"\\old\\stale.dll", "stale"));
    ASSERT_TRUE(WriteFileBytes(work + L"\\readonly.txt", "ro"));
    SetFileAttributesW((work + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((work + L"\\old\\stale.dll").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    DebugLevelValue level(0x2200007F);
    EXPECT_EQ(RunAndCloseDialog(scratch.Path()), 1);
    EXPECT_TRUE(DirectoryExists(work));
    EXPECT_FALSE(FileExists(work + L"\\readonly.txt"));
    EXPECT_FALSE(DirectoryExists(work + L"\\old"));

    auto lines = SplitLines(ReadFileBytes(ProductLog()));
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_search(lines[0], std::regex(R"(\[ \] ===== \[1\.60\.0\.1000\]\[.*\\qvcleantool\.log\] LOG START =====\[\(0\)\]$)")))
        << lines[0];
}

TEST(StartUp, WithoutConfigurationDeletesThePreviousLogAndWritesNone) {
    ScratchFolder scratch;
    DebugLevelValue::Remove();
    ASSERT_TRUE(WriteFileBytes(ProductLog(), "previous run\n"));
    EXPECT_EQ(RunAndCloseDialog(scratch.Path()), 1);
    EXPECT_FALSE(FileExists(ProductLog()));
    EXPECT_TRUE(DirectoryExists(scratch / L"GRIMLET专杀"));
}

}  // namespace
