#pragma once
// The files a task names, looked at the way the decision needs them: opened once without following a
// link, named by volume and file index, and hashed through that same handle.
#include "grimlet/tasks/WormTaskDecision.h"

class TaskFileLookup final : public ITaskFileLookup {
public:
    Result Identify(const std::wstring& path, TaskFileIdentity& identity) override;
};

// The folders rundll32 and a bare DLL name are looked for in on this system: System32 (and SysWOW64 on
// 64-bit Windows) and the Windows folder, named by the system, never by an environment variable.
TaskSearchFolders SystemTaskSearchFolders();

// A task's text with its %variables% expanded as the system expands them; the text unchanged when it
// holds none or would not fit.
std::wstring ExpandTaskText(const std::wstring& text);

// The command a .job task runs, expanded.
struct JobFileTask;
TaskCommand JobTaskCommand(const JobFileTask& task);
