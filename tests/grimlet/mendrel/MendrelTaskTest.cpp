// The engine's removal of a scheduled task: RunMendrel.exe itself on .job files in the prefix's Tasks
// folder, and the Task Scheduler 2.0 path on tasks a stand-in scheduler holds (Wine's cannot read a
// task's actions).
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "grimlet/mendrel/MendrelCommandLine.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/mendrel/QuarantineStore.h"
#include "grimlet/mendrel/TaskRemoval.h"
#include "grimlet/tasks/JobFile.h"
#include "grimlet/tasks/TaskFolder.h"
#include "platform/hash/FileDigest.h"
#include "tests/support/JobFileBytes.h"
#include "tests/support/TaskSchedulerState.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

std::string Sha1Of(const std::string& bytes) {
    FileDigest hash(false, true);
    hash.Update(bytes.data(), bytes.size());
    return hash.FinishSha1Hex();
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A file of the Tasks folder for one test: what was there before comes back at scope end.
class TaskFileGuard {
public:
    explicit TaskFileGuard(const std::wstring& name) : path_(SystemTasksFolder() + L"\\" + name) {
        CreateDirectoryW(SystemTasksFolder().c_str(), nullptr);
        existed_ = GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (existed_) before_ = ReadFileBytes(path_);
    }
    ~TaskFileGuard() {
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (existed_)
            WriteFileBytes(path_, before_);
        else
            DeleteFileW(path_.c_str());
    }
    const std::wstring& Path() const { return path_; }
    bool Exists() const { return GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

private:
    std::wstring path_;
    bool existed_ = false;
    std::string before_;
};

// Task Scheduler 2.0 as the removal sees it, holding its tasks in memory.
class FakeSchedulers final : public ITaskSchedulers {
public:
    struct Task {
        RegisteredTask task;
        std::wstring xml;
    };
    std::map<std::wstring, Task> tasks;
    bool refuseReading = false, refuseDeleting = false, changeOnSecondRead = false, refuseJobDelete = false;
    int reads = 0;
    std::vector<std::wstring> deletedJobs;

    JobScheduler::Listed ListsJob(const std::wstring&, std::string&) override { return JobScheduler::Listed::Yes; }
    bool DeleteJob(const std::wstring& name, std::string& problem) override {
        deletedJobs.push_back(name);
        problem = "refused";
        return !refuseJobDelete && DeleteFileW((SystemTasksFolder() + L"\\" + name).c_str());
    }
    TaskService::Found OpenTask(const std::wstring& path, RegisteredTask& task, std::wstring& xml,
                                std::string& problem) override {
        if (refuseReading) {
            problem = "refused";
            return TaskService::Found::Failed;
        }
        auto found = tasks.find(path);
        if (found == tasks.end()) return TaskService::Found::Absent;
        if (++reads == 2 && changeOnSecondRead) found->second.xml += L"<!-- changed -->";
        task = found->second.task;
        xml = found->second.xml;
        return TaskService::Found::Yes;
    }
    bool DeleteTask(const std::wstring& path, std::string& problem) override {
        problem = "refused";
        return !refuseDeleting && tasks.erase(path) == 1;
    }
    TaskService::Registered RegisterTask(const std::wstring& path, const std::wstring& xml, std::string&) override {
        if (tasks.count(path)) return TaskService::Registered::Exists;
        tasks[path].xml = xml;
        return TaskService::Registered::Yes;
    }
};

class MendrelTaskTest : public ::testing::Test {
protected:
    void SetUp() override {
        wormBytes_ = "MZ worm of the task test " + std::to_string(GetTickCount());
        wormDll_ = scratch_ / L"worm.dll";
        ASSERT_TRUE(WriteFileBytes(wormDll_, wormBytes_));
        wormSha1_ = Sha1Of(wormBytes_);
        place_ = system_.Place();
        place_.schedulers = &fake_;
        worm_.task.path = L"\\Worm";
        worm_.task.read = true;
        worm_.task.actions = {{L"rundll32.exe", L"\"" + wormDll_ + L"\",Run", L""}};
        worm_.xml = L"<Task><Exec>rundll32 worm</Exec></Task>";
    }
    std::vector<uint8_t> JobRunning(const std::wstring& program, const std::wstring& parameters) {
        JobFileFields fields;
        fields.application.assign(program.begin(), program.end());
        fields.parameters.assign(parameters.begin(), parameters.end());
        return JobFileBytes(fields);
    }
    QuarantineEntry Newest(QuarantineStore& store) {
        std::vector<QuarantineEntry> entries;
        EXPECT_TRUE(store.ReadEntries(entries));
        return entries.empty() ? QuarantineEntry() : entries.back();
    }

    TaskSchedulerState scheduler_;  // first: put back after everything else
    ScratchFolder scratch_{L"mendreltask"};
    std::string wormBytes_, wormSha1_;
    std::wstring wormDll_;
    SystemTaskPlace system_;
    TaskRemovalPlace place_;
    FakeSchedulers fake_;
    FakeSchedulers::Task worm_;
};

TEST(MendrelTaskCommandLineTest, AcceptsABareJobNameOrATaskPathWithTheWormsSha1) {
    const std::wstring sha1 = L"-SHA1=0123456789abcdef0123456789ABCDEF01234567";
    MendrelCommandLine line;
    std::wstring problem;
    ASSERT_TRUE(line.Parse((L"\"C:\\w\\RunMendrel\" -assign=WORM_GRIMLET. -TASK=\"At1.job\" " + sha1).c_str(), problem))
        << Narrow(problem);
    EXPECT_EQ(MendrelCommandLine::Command::Task, line.command);
    EXPECT_EQ(L"At1.job", line.taskName);
    EXPECT_EQ("0123456789ABCDEF0123456789ABCDEF01234567", line.sha1);
    ASSERT_TRUE(MendrelCommandLine().Parse((L"x " + sha1 + L" -task=\"\\Folder\\My Task\" -ASSIGN=WORM_GRIMLET.").c_str(),
                                           problem));
    for (const std::wstring& bad : std::vector<std::wstring>{
             L"x -assign=WORM_GRIMLET. -TASK=At1.job",                                  // no SHA-1
             L"x -TASK=At1.job " + sha1,                                                // no -assign
             L"x -assign=WORM_GRIMLET. -TASK=At1.job -TASK=At2.job " + sha1,            // repeated
             L"x -assign=WORM_GRIMLET. -TASK=..\\At1.job " + sha1,                      // not bare
             L"x -assign=WORM_GRIMLET. -TASK=At1.job:x.job " + sha1,                    // a stream
             L"x -assign=WORM_GRIMLET. -TASK=At1.exe " + sha1,                          // no task file
             L"x -assign=WORM_GRIMLET. -TASK=\\A\\\\B " + sha1,                         // empty name
             L"x -assign=WORM_GRIMLET. -TASK=\\A\\..\\B " + sha1,                       // a way up
             L"x -assign=WORM_GRIMLET. -TASK=At1.job -SHA1=0123 ",                      // short SHA-1
             L"x -assign=WORM_GRIMLET. -TASK=At1.job -GC " + sha1,                      // mixed lines
         }) {
        problem.clear();
        EXPECT_FALSE(MendrelCommandLine().Parse(bad.c_str(), problem)) << Narrow(bad);
        EXPECT_FALSE(problem.empty());
    }
}

// The program itself, as grimlet.dll starts it, then -list and -restore=<id>.
TEST_F(MendrelTaskTest, TheEngineRemovesAndRestoresTheWormsJobAndLeavesEveryOtherTask) {
    const std::wstring exe = ProductFolder() + L"\\RunMendrel.exe";
    const std::wstring line = L"-assign=WORM_GRIMLET. -SHA1=" + Widen(wormSha1_) + L" -TASK=";
    TaskFileGuard at1(L"At1.job"), at2(L"At2.job"), cut(L"At3.job");
    const std::string wormJob = Text(JobRunning(L"rundll32.exe", L"\"" + wormDll_ + L"\",DllRegisterServer"));
    const std::string applet = Text(JobRunning(L"rundll32.exe", L"shell32.dll,Control_RunDLL desk.cpl"));
    ASSERT_TRUE(WriteFileBytes(at1.Path(), wormJob));
    SetFileAttributesW(at1.Path().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(WriteFileBytes(at2.Path(), applet));

    EXPECT_EQ(MendrelExitCode::NoLongerProven, RunProgram(exe, line + L"At2.job", scratch_.Path()));
    EXPECT_EQ(applet, ReadFileBytes(at2.Path()));
    // Cut short, a length past the end, oversized: never proven, never changed.
    std::string pastEnd = wormJob;
    pastEnd[70] = '\xFF';
    for (const std::string& bad : std::vector<std::string>{wormJob.substr(0, 90), pastEnd, wormJob + std::string(JobFile::kMaxFileBytes, 'x')}) {
        ASSERT_TRUE(WriteFileBytes(cut.Path(), bad));
        EXPECT_EQ(MendrelExitCode::NoLongerProven, RunProgram(exe, line + L"At3.job", scratch_.Path()));
        EXPECT_EQ(bad, ReadFileBytes(cut.Path()));
    }
    // Another worm's SHA-1 proves nothing.
    EXPECT_EQ(MendrelExitCode::NoLongerProven,
              RunProgram(exe, L"-assign=WORM_GRIMLET. -SHA1=" + Widen(Sha1Of("other")) + L" -TASK=At1.job", scratch_.Path()));
    EXPECT_TRUE(at1.Exists());

    {
        // The .job format is the one task store of XP: removed there as well, and no 2.0 task exists.
        const WineVersionForProgram xp(L"RunMendrel.exe", sizeof(void*) == 8 ? L"winxp64" : L"winxp");
        EXPECT_EQ(MendrelExitCode::TaskSchedulerFailed, RunProgram(exe, line + L"\\At1", scratch_.Path()));
        ASSERT_EQ(MendrelExitCode::Removed, RunProgram(exe, line + L"At1.job", scratch_.Path()));
    }
    EXPECT_FALSE(at1.Exists());
    std::string listing;
    ASSERT_EQ(MendrelExitCode::Listed, RunProgram(exe, L"-list", scratch_.Path(), 60000, &listing));
    const std::size_t at = listing.rfind("\tAt1.job\t-\t");
    ASSERT_NE(std::string::npos, at) << listing;
    const std::string id = listing.substr(at - 40, 40);
    EXPECT_NE(wormSha1_, id);
    EXPECT_NE(Sha1Of(wormJob), id) << "each removal has an id of its own";
    EXPECT_EQ("quarantined", listing.substr(listing.find('\t', at + 13) + 1, 11)) << listing;

    ASSERT_TRUE(WriteFileBytes(at1.Path(), applet));
    EXPECT_EQ(MendrelExitCode::RestoreRefused, RunProgram(exe, L"-restore=" + Widen(id), scratch_.Path()));
    EXPECT_EQ(applet, ReadFileBytes(at1.Path()));
    ASSERT_TRUE(DeleteFileW(at1.Path().c_str()));
    ASSERT_EQ(MendrelExitCode::Restored, RunProgram(exe, L"-restore=" + Widen(id), scratch_.Path()));
    EXPECT_EQ(wormJob, ReadFileBytes(at1.Path()));
    const DWORD hiddenReadOnly = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
    EXPECT_EQ(hiddenReadOnly, GetFileAttributesW(at1.Path().c_str()) & hiddenReadOnly);
    EXPECT_EQ(MendrelExitCode::NotQuarantined, RunProgram(exe, L"-restore=" + Widen(id), scratch_.Path()));
}

TEST_F(MendrelTaskTest, AJobTheSchedulerWillNotDeleteGoesAsAFileAndAFailedQuarantineChangesNothing) {
    ScratchFolder quarantine(L"mtq");
    QuarantineStore store(quarantine / L"q");
    TaskFileGuard job(L"TwTaskTest.job");
    const std::string bytes = Text(JobRunning(L"%SystemRoot%\\system32\\rundll32.exe", L"\"" + wormDll_ + L"\",Run"));
    ASSERT_TRUE(WriteFileBytes(job.Path(), bytes));
    QuarantineStore refused(scratch_ / L"worm.dll\\q");
    EXPECT_EQ(MendrelExitCode::QuarantineFailed, TaskRemoval::Remove(refused, L"TwTaskTest.job", wormSha1_, place_));
    EXPECT_EQ(bytes, ReadFileBytes(job.Path()));

    fake_.refuseJobDelete = true;
    ASSERT_EQ(MendrelExitCode::Removed, TaskRemoval::Remove(store, L"TwTaskTest.job", wormSha1_, place_));
    EXPECT_EQ(std::vector<std::wstring>{L"TwTaskTest.job"}, fake_.deletedJobs);
    EXPECT_FALSE(job.Exists());
    const QuarantineEntry entry = Newest(store);
    EXPECT_EQ(std::wstring(kQuarantineKindTask), entry.kind);
    ASSERT_EQ(MendrelExitCode::Restored, TaskRemoval::Restore(store, entry, place_));
    EXPECT_EQ(bytes, ReadFileBytes(job.Path()));

    // A Task Scheduler 2.0 task of the same name that is not the worm's is never deleted by name: only
    // the proven file goes.
    fake_.refuseJobDelete = false;
    fake_.deletedJobs.clear();
    fake_.tasks[L"\\TwTaskTest"].task.read = true;
    fake_.tasks[L"\\TwTaskTest"].task.actions = {{L"notepad.exe", L"", L""}};
    ASSERT_EQ(MendrelExitCode::Removed, TaskRemoval::Remove(store, L"TwTaskTest.job", wormSha1_, place_));
    EXPECT_TRUE(fake_.deletedJobs.empty());
    EXPECT_FALSE(job.Exists());
    EXPECT_EQ(1u, fake_.tasks.count(L"\\TwTaskTest"));
}

// Wine's Task Scheduler 2.0 reads no task's actions: the decision and the steps run on tasks the
// stand-in holds.
TEST_F(MendrelTaskTest, ARegisteredTaskIsRemovedOnlyWhenProvenAndComesBackFromItsXml) {
    ScratchFolder quarantine(L"mtq");
    QuarantineStore store(quarantine / L"q");
    FakeSchedulers::Task other = worm_;
    other.task.actions = {{L"rundll32.exe", L"shell32.dll,Control_RunDLL desk.cpl", L""}};
    FakeSchedulers::Task mixed = worm_;
    mixed.task.actions.push_back({L"rundll32.exe", L"missing\\relative.dll,Run", L""});
    fake_.tasks = {{L"\\Worm", worm_}, {L"\\Other", other}, {L"\\Mixed", mixed}};

    EXPECT_EQ(MendrelExitCode::NoLongerProven, TaskRemoval::Remove(store, L"\\Other", wormSha1_, place_));
    EXPECT_EQ(MendrelExitCode::NoLongerProven, TaskRemoval::Remove(store, L"\\Mixed", wormSha1_, place_));
    EXPECT_EQ(MendrelExitCode::NoLongerProven, TaskRemoval::Remove(store, L"\\Gone", wormSha1_, place_));
    fake_.refuseReading = true;
    EXPECT_EQ(MendrelExitCode::TaskSchedulerFailed, TaskRemoval::Remove(store, L"\\Worm", wormSha1_, place_));
    fake_.refuseReading = false;
    fake_.refuseDeleting = true;
    EXPECT_EQ(MendrelExitCode::TaskSchedulerFailed, TaskRemoval::Remove(store, L"\\Worm", wormSha1_, place_));
    EXPECT_EQ(L"undone", Newest(store).state);
    fake_.refuseDeleting = false;
    fake_.changeOnSecondRead = true;
    fake_.reads = 0;
    EXPECT_EQ(MendrelExitCode::NoLongerProven, TaskRemoval::Remove(store, L"\\Worm", wormSha1_, place_));
    EXPECT_EQ(3u, fake_.tasks.size());
    fake_.changeOnSecondRead = false;
    const std::wstring xml = fake_.tasks[L"\\Worm"].xml;

    ASSERT_EQ(MendrelExitCode::Removed, TaskRemoval::Remove(store, L"\\Worm", wormSha1_, place_));
    EXPECT_EQ(0u, fake_.tasks.count(L"\\Worm"));
    const QuarantineEntry entry = Newest(store);
    EXPECT_EQ(L"\\Worm", entry.originalPath);
    EXPECT_EQ(L"quarantined", entry.state);
    fake_.tasks[L"\\Worm"] = other;
    EXPECT_EQ(MendrelExitCode::RestoreRefused, TaskRemoval::Restore(store, entry, place_));
    fake_.tasks.erase(L"\\Worm");
    ASSERT_EQ(MendrelExitCode::Restored, TaskRemoval::Restore(store, entry, place_));
    EXPECT_EQ(xml, fake_.tasks[L"\\Worm"].xml);
    EXPECT_EQ(L"restored", Newest(store).state);

    // A kept file that is not what the entry names is never used.
    ASSERT_TRUE(WriteFileBytes(quarantine / (L"q\\" + entry.keysName), "Tidewash task 1\r\nname\t\\Worm\r\n"));
    fake_.tasks.erase(L"\\Worm");
    EXPECT_EQ(MendrelExitCode::QuarantineUnreadable, TaskRemoval::Restore(store, entry, place_));
    EXPECT_EQ(0u, fake_.tasks.count(L"\\Worm"));
}

// The system's Task Scheduler 2.0 as far as Wine has it: a task the engine cannot read is left alone.
TEST_F(MendrelTaskTest, TheEngineLeavesARegisteredTaskItCannotReadUnchanged) {
    TaskService service;
    std::string problem;
    ASSERT_TRUE(service.Connect(problem)) << problem;
    const std::wstring path = L"\\TwTaskTest" + std::to_wstring(GetTickCount());
    const std::wstring xml =
        L"<?xml version=\"1.0\"?><Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
        L"<Actions><Exec><Command>rundll32.exe</Command><Arguments>" + wormDll_ + L",Run</Arguments></Exec></Actions></Task>";
    ASSERT_EQ(TaskService::Registered::Yes, service.Register(path, xml, problem)) << problem;
    EXPECT_EQ(TaskService::Registered::Exists, service.Register(path, xml, problem));
    RegisteredTask task;
    std::wstring read;
    const bool readable = service.Open(path, task, read, problem) == TaskService::Found::Yes;
    const int code = RunProgram(ProductFolder() + L"\\RunMendrel.exe",
                                L"-assign=WORM_GRIMLET. -SHA1=" + Widen(wormSha1_) + L" -TASK=" + path, scratch_.Path());
    if (readable) {
        EXPECT_EQ(MendrelExitCode::Removed, code);
    } else {
        EXPECT_EQ(MendrelExitCode::TaskSchedulerFailed, code) << problem;
        EXPECT_EQ(TaskService::Registered::Exists, service.Register(path, xml, problem)) << "still there";
        EXPECT_TRUE(service.Delete(path, problem)) << problem;
    }
    EXPECT_EQ(TaskService::Found::Absent, service.Open(path, task, read, problem));
}

}  // namespace
