// The task-file reader behind the scheduled-task step: any bytes as a .job file. What it accepts came
// from within the file, with no NUL inside a string, and a refusal always says why.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "grimlet/tasks/JobFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JobFileTask task;
    std::string problem;
    if (!JobFile::Parse(data, size, task, problem)) {
        if (problem.empty()) abort();
        return 0;
    }
    if (!problem.empty() || size > JobFile::kMaxFileBytes) abort();
    const std::size_t stringBytes = 2 * (task.applicationName.size() + task.parameters.size() +
                                         task.workingDirectory.size() + task.author.size() + task.comment.size());
    if (JobFile::kApplicationNameOffset + stringBytes + static_cast<std::size_t>(task.triggerCount) * JobFile::kTriggerSize > size)
        abort();
    for (const std::u16string* text : {&task.applicationName, &task.parameters, &task.workingDirectory, &task.author, &task.comment})
        if (text->find(u'\0') != std::u16string::npos) abort();
    return 0;
}
