#pragma once
// Task Scheduler 1.0's own interface to the .job tasks, mstask.dll's ITaskScheduler, made without the
// class registry (SystemComClass.h). COM is initialised on the calling thread for the object's life
// where the thread has not done so already.
#include <string>

#include "grimlet/tasks/SystemComClass.h"

struct ITaskScheduler;

class JobScheduler {
public:
    JobScheduler();
    ~JobScheduler();
    JobScheduler(const JobScheduler&) = delete;
    JobScheduler& operator=(const JobScheduler&) = delete;

    bool Connect(std::string& problem);

    enum class Listed { Yes, No, Failed };
    // Whether the interface's list of work items holds `fileName` ("At1.job").
    Listed Lists(const std::wstring& fileName, std::string& problem);
    // Deletes the work item of `fileName` ("At1.job") through the interface.
    bool Delete(const std::wstring& fileName, std::string& problem);

private:
    ComOnThisThread com_;  // first: it outlives the scheduler
    ComRef<ITaskScheduler> scheduler_;
};
