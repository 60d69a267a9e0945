#pragma once
// The files a task names, looked at the way the decision needs them: opened once without following a
// link, named by volume and file index, and hashed through that same handle.
#include "grimlet/tasks/WormTaskDecision.h"

class TaskFileLookup final : public ITaskFileLookup {
public:
    Result Identify(const std::wstring& path, TaskFileIdentity& identity) override;
};
