#pragma once
// Scheduled tasks that start a worm DLL of this scan: the .job files of the Tasks folder on every
// version, and from Vista on the tasks Task Scheduler 2.0 lists. Reads only.
#include <string>
#include <vector>

#include "grimlet/plugin/ScanRecord.h"
#include "grimlet/tasks/TaskFolder.h"
#include "grimlet/tasks/WormTaskDecision.h"

// One task to judge, from wherever it was read.
struct TaskToJudge {
    std::wstring name;     // "At1.job", or "\At1" for Task Scheduler 2.0
    std::wstring shown;    // the command as stored, for the row
    bool read = false;     // false: `problem` says why it cannot be checked
    std::string problem;
    std::vector<TaskCommand> commands;  // expanded
};

// A .job file's task, its %variables% expanded; and a Task Scheduler 2.0 task, all its exec actions.
TaskToJudge TaskFromJobFile(const TaskFileEntry& entry);
struct RegisteredTask;
TaskToJudge TaskFromRegistered(const RegisteredTask& registered);
// Whether a Task Scheduler 2.0 task of the root folder ("\At1") is one of the .job files ("At1.job").
bool IsAlsoJobFile(const std::wstring& path, const std::vector<TaskFileEntry>& jobs);

// Appends one record per worm task and one unchecked record per task that cannot be judged.
void JudgeWormTasks(const std::vector<TaskToJudge>& tasks, const std::vector<ProvenWormDll>& proven,
                    const TaskSearchFolders& folders, ITaskFileLookup& lookup, std::vector<ScanRecord>& results);

// "GRIMLET计划任务:" with "任务:[At1.job] 命令:[rundll32.exe ...]".
ScanRecord MakeWormTaskRecord(const TaskToJudge& task, const std::string& dllSha1);

// The product's step: nothing is judged when no worm DLL was proven.
void ScanWormTasks(const std::vector<ProvenWormDll>& proven, std::vector<ScanRecord>& results);
