// Task Scheduler 2.0's tasks through ITaskService: the path shapes the engine accepts, and the list as
// the prefix's Task Scheduler gives it (Wine's lists no folder's tasks: each such folder is one entry
// that says why it was not read, never a silent empty list).
#include <gtest/gtest.h>

#include "grimlet/tasks/RegisteredTasks.h"
#include "tests/support/TaskSchedulerState.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(RegisteredTasksTest, TaskPathsAreRootedNamesWithoutWaysUpOrStreams) {
    for (const wchar_t* good : {L"\\At1", L"\\Folder\\Name", L"\\Microsoft\\Windows\\Defrag\\ScheduledDefrag", L"\\a b"})
        EXPECT_TRUE(IsRegisteredTaskPath(good)) << testsupport::Narrow(good);
    for (const wchar_t* bad : {L"", L"\\", L"At1", L"\\\\At1", L"\\A\\", L"\\A\\..\\B", L"\\.", L"\\A:B", L"\\A/B",
                               L"\\A\x01", L"C:\\Windows\\Tasks\\At1.job"})
        EXPECT_FALSE(IsRegisteredTaskPath(bad)) << testsupport::Narrow(bad);
    EXPECT_FALSE(IsRegisteredTaskPath(L"\\" + std::wstring(MAX_PATH, L'a')));
}

TEST(RegisteredTasksTest, EveryTaskIsReadOrSaysWhyNot) {
    const testsupport::TaskSchedulerState scheduler;
    std::vector<RegisteredTask> tasks;
    std::string problem;
    ASSERT_TRUE(ListRegisteredTasks(tasks, problem)) << problem;
    for (const RegisteredTask& task : tasks) {
        EXPECT_TRUE(!task.path.empty() && task.path[0] == L'\\') << testsupport::Narrow(task.path);
        EXPECT_NE(task.read, !task.problem.empty()) << testsupport::Narrow(task.path) << ": " << task.problem;
    }
    if (testsupport::RunningOnWine()) {
        ASSERT_FALSE(tasks.empty());
        EXPECT_EQ(L"\\", tasks[0].path);
        EXPECT_FALSE(tasks[0].read) << "Wine 8.0 lists no tasks; should it now, the scan reads them";
    }
}

}  // namespace
