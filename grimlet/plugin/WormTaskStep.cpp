#include "grimlet/plugin/WormTaskStep.h"

#include <windows.h>

#include "grimlet/tasks/RegisteredTasks.h"
#include "grimlet/tasks/TaskFileLookup.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"GrimletTasks";

namespace {

const wchar_t kTitle[] = L"GRIMLET计划任务:";

std::wstring Widen(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

TaskToJudge TaskFromRegistered(const RegisteredTask& registered) {
    TaskToJudge task;
    task.name = registered.path;
    task.read = registered.read;
    task.problem = registered.problem;
    task.commands = registered.actions;
    for (const TaskCommand& action : registered.actions) {
        if (!task.shown.empty()) task.shown += L"; ";
        task.shown += action.parameters.empty() ? action.program : action.program + L" " + action.parameters;
    }
    return task;
}

bool IsAlsoJobFile(const std::wstring& path, const std::vector<TaskFileEntry>& jobs) {
    if (path.size() < 2 || path[0] != L'\\' || path.find(L'\\', 1) != std::wstring::npos) return false;
    for (const TaskFileEntry& job : jobs)
        if (_wcsicmp((path.substr(1) + L".job").c_str(), job.name.c_str()) == 0) return true;
    return false;
}

TaskToJudge TaskFromJobFile(const TaskFileEntry& entry) {
    TaskToJudge task;
    task.name = entry.name;
    task.read = entry.read;
    task.problem = entry.problem;
    if (!entry.read) return task;
    const std::wstring program = Widen(entry.task.applicationName);
    const std::wstring parameters = Widen(entry.task.parameters);
    task.shown = parameters.empty() ? program : program + L" " + parameters;
    const TaskCommand command = JobTaskCommand(entry.task);
    task.commands.push_back(command);
    return task;
}

ScanRecord MakeWormTaskRecord(const TaskToJudge& task, const std::string& dllSha1) {
    ScanRecord record;
    record.kind = kScanRecordWormTask;
    record.title = kTitle;
    record.detail = L"任务:[" + task.name + L"] 命令:[" + task.shown + L"]";
    record.objectPath = task.name;
    record.sha1 = dllSha1;
    return record;
}

void JudgeWormTasks(const std::vector<TaskToJudge>& tasks, const std::vector<ProvenWormDll>& proven,
                    const TaskSearchFolders& folders, ITaskFileLookup& lookup, std::vector<ScanRecord>& results) {
    const WormTaskDecision decision(proven, folders, lookup);
    for (const TaskToJudge& task : tasks) {
        if (!task.read) {
            TW_LOG(LogLevel::Warning, "Task %S cannot be checked: %s", task.name.c_str(), task.problem.c_str());
            results.push_back(InformationRecord(kScanRecordUnchecked, L"task " + task.name,
                                                std::wstring(task.problem.begin(), task.problem.end())));
            continue;
        }
        for (const TaskCommand& command : task.commands) {
            const WormTaskVerdict verdict = decision.Judge(command);
            TW_LOG(LogLevel::Info, "Task %S: %s", task.name.c_str(), verdict.reason.c_str());
            if (verdict.kind == WormTaskVerdict::Kind::Unchecked) {
                results.push_back(InformationRecord(kScanRecordUnchecked, L"task " + task.name,
                                                    std::wstring(verdict.reason.begin(), verdict.reason.end())));
                break;
            }
            if (verdict.kind != WormTaskVerdict::Kind::Worm) continue;
            // The engine proves the task again against the bytes of the DLL the scan proved.
            TaskFileIdentity identity;
            if (lookup.Identify(verdict.dllPath, identity) != ITaskFileLookup::Result::Found) {
                results.push_back(InformationRecord(kScanRecordUnchecked, L"task " + task.name,
                                                    L"its DLL could not be read again"));
                break;
            }
            std::string sha1;
            for (const ProvenWormDll& dll : proven) {
                const bool sameFile = dll.identity.fileIndex != 0 && dll.identity.fileIndex == identity.fileIndex &&
                                      dll.identity.volumeSerial == identity.volumeSerial;
                if (sameFile || dll.identity.sha1 == identity.sha1) sha1 = dll.identity.sha1;
            }
            if (sha1.empty()) {
                results.push_back(InformationRecord(kScanRecordUnchecked, L"task " + task.name,
                                                    L"its DLL changed while it was checked"));
                break;
            }
            results.push_back(MakeWormTaskRecord(task, sha1));
            break;  // one row per task, however many of its actions start the worm
        }
    }
}

void ScanWormTasks(const std::vector<ProvenWormDll>& proven, std::vector<ScanRecord>& results) {
    TW_LOG_SCOPE("ScanWormTasks()");
    if (proven.empty()) {
        TW_LOG(LogLevel::Info, "No worm DLL proven: no task can be the worm's");
        return;
    }
    std::vector<TaskToJudge> tasks;
    const std::wstring folder = SystemTasksFolder();
    if (folder.empty()) {
        results.push_back(InformationRecord(kScanRecordUnchecked, L"Tasks folder", L"the Windows folder is not known"));
        return;
    }
    const std::vector<TaskFileEntry> jobs = ReadTaskFolder(folder);
    for (const TaskFileEntry& entry : jobs) tasks.push_back(TaskFromJobFile(entry));
    // From Vista on Task Scheduler 2.0 keeps every task. One made through the AT service or Task
    // Scheduler 1.0 is also its .job file; it is judged once, as that file, whose removal through Task
    // Scheduler 1.0 removes both.
    std::vector<RegisteredTask> registered;
    std::string problem;
    if (!ListRegisteredTasks(registered, problem))
        results.push_back(InformationRecord(kScanRecordUnchecked, L"Task Scheduler 2.0",
                                            std::wstring(problem.begin(), problem.end())));
    for (const RegisteredTask& task : registered)
        if (!IsAlsoJobFile(task.path, jobs)) tasks.push_back(TaskFromRegistered(task));
    TaskFileLookup lookup;
    JudgeWormTasks(tasks, proven, SystemTaskSearchFolders(), lookup, results);
}
