#pragma once
// The .job files of one Tasks folder, each read through a handle of its own. The names are the folder's
// own, for showing; what a task runs comes only from its file's bytes.
#include <string>
#include <vector>

#include "grimlet/tasks/JobFile.h"

struct TaskFileEntry {
    std::wstring name;  // "At1.job"
    bool read = false;  // false: `problem` says why the task cannot be checked
    JobFileTask task;
    std::string problem;
};

// Reads the task file open as `file` (a plain file, not a link: the caller checks) from where it
// stands, up to JobFile::kMaxFileBytes, into `bytes`, and parses it. False, with the reason, when it
// cannot be read or parsed.
bool ReadJobFileThrough(void* file, std::vector<uint8_t>& bytes, JobFileTask& task, std::string& problem);

// Every "*.job" file directly in `folder`: opened without following a link (a link or a folder is
// refused), read through that handle up to JobFile::kMaxFileBytes, then parsed. An absent folder has no
// tasks; one that cannot be listed (to its end) gives an entry "folder <path>" that was not read.
std::vector<TaskFileEntry> ReadTaskFolder(const std::wstring& folder);

// "<Windows folder>\Tasks", named by the system, never by a variable; empty when the system will not
// name its Windows folder.
std::wstring SystemTasksFolder();
