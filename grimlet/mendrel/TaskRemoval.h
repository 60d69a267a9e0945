#pragma once
// RunMendrel.exe -TASK=<name> -SHA1=<worm DLL>: removes one scheduled task the scan proved the worm's,
// after proving it again, and the way back (-restore=<id>). A ".job" name is a file directly in the
// Tasks folder, opened once without following a link and read and deleted through that handle, removed
// through Task Scheduler 1.0's interface where it lists the task; a "\..." path is a Task Scheduler
// 2.0 task, read and deleted through its interface. Each removal is one quarantine entry of kind
// "task" whose file keeps the definition: the .job file's bytes, or the task's XML. Each returns one
// of MendrelExitCode.
#include <string>

#include "grimlet/mendrel/QuarantineStore.h"
#include "grimlet/tasks/JobScheduler.h"
#include "grimlet/tasks/RegisteredTasks.h"
#include "grimlet/tasks/TaskFileLookup.h"
#include "grimlet/tasks/WormTaskDecision.h"

// The two Task Schedulers' interfaces as the removal uses them: the system's, or the tests' stand-in.
class ITaskSchedulers {
public:
    virtual ~ITaskSchedulers() = default;
    virtual JobScheduler::Listed ListsJob(const std::wstring& fileName, std::string& problem) = 0;
    virtual bool DeleteJob(const std::wstring& fileName, std::string& problem) = 0;
    virtual TaskService::Found OpenTask(const std::wstring& path, RegisteredTask& task, std::wstring& xml,
                                        std::string& problem) = 0;
    virtual bool DeleteTask(const std::wstring& path, std::string& problem) = 0;
    virtual TaskService::Registered RegisterTask(const std::wstring& path, const std::wstring& xml,
                                                 std::string& problem) = 0;
};

// mstask.dll and taskschd.dll, each connected at its first use.
class SystemTaskSchedulers final : public ITaskSchedulers {
public:
    JobScheduler::Listed ListsJob(const std::wstring& fileName, std::string& problem) override;
    bool DeleteJob(const std::wstring& fileName, std::string& problem) override;
    TaskService::Found OpenTask(const std::wstring& path, RegisteredTask& task, std::wstring& xml,
                                std::string& problem) override;
    bool DeleteTask(const std::wstring& path, std::string& problem) override;
    TaskService::Registered RegisterTask(const std::wstring& path, const std::wstring& xml, std::string& problem) override;

private:
    bool JobsConnected(std::string& problem);
    bool TasksConnected(std::string& problem);

    JobScheduler jobs_;
    TaskService tasks_;
    int jobsState_ = 0;   // 0 not tried, 1 connected, -1 refused
    int tasksState_ = 0;
};

// Where a removal looks and acts: the Tasks folder ("<Windows folder>\Tasks", named by the system), the
// folders a task's DLL is looked for in, the file look-up and the schedulers.
struct TaskRemovalPlace {
    std::wstring tasksFolder;
    TaskSearchFolders searchFolders;
    ITaskFileLookup* lookup = nullptr;
    ITaskSchedulers* schedulers = nullptr;
};

// The system's own place, holding its look-up and schedulers.
class SystemTaskPlace {
public:
    SystemTaskPlace();
    SystemTaskPlace(const SystemTaskPlace&) = delete;
    SystemTaskPlace& operator=(const SystemTaskPlace&) = delete;
    const TaskRemovalPlace& Place() const { return place_; }

private:
    TaskFileLookup lookup_;
    SystemTaskSchedulers schedulers_;
    TaskRemovalPlace place_;
};

namespace TaskRemoval {

// A bare ".job" file name: no folder, no stream, no character a file name cannot hold.
bool IsJobFileName(const std::wstring& name);

// Whether the task's commands are the worm's: at least one runs a DLL with `wormSha1`, and none could not
// be checked. Fills `reason` for the log.
bool ProvenWorm(const std::vector<TaskCommand>& commands, const std::string& wormSha1, const TaskRemovalPlace& place,
                std::string& reason);

// Removes the task `name` (IsJobFileName or IsRegisteredTaskPath) once proven to run a DLL with
// `wormSha1` (40 upper-case hexadecimal digits).
int Remove(QuarantineStore& store, const std::wstring& name, const std::string& wormSha1, const TaskRemovalPlace& place);

// Puts back what `entry` (kind task) kept: a .job file only where no file of its name is, a Task
// Scheduler 2.0 task registered anew (never over an existing one).
int Restore(QuarantineStore& store, const QuarantineEntry& entry, const TaskRemovalPlace& place);

}  // namespace TaskRemoval
