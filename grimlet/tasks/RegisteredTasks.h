#pragma once
// Task Scheduler 2.0's tasks (Vista on), read through its own interface, ITaskService, never from the
// XML files it keeps: the service decides what a task runs. Its class comes from taskschd.dll loaded
// by full path from the system folder and asked through its own DllGetClassObject, never through the
// class registry, which merges in HKEY_CURRENT_USER (a non-administrator could point it elsewhere).
// Every call initialises COM on the calling thread for its own duration where the thread has not done
// so already (any apartment the caller chose is kept).
#include <memory>
#include <string>
#include <vector>

#include "grimlet/tasks/WormTaskDecision.h"

struct RegisteredTask {
    std::wstring path;                 // "\At1", "\Folder\Name"
    std::vector<TaskCommand> actions;  // its exec actions, %variables% expanded
    bool read = false;                 // false: `problem` says why it cannot be checked
    std::string problem;
};

// Every task of every folder, recursively, hidden ones included. False, with the reason, when the
// Task Scheduler cannot be reached (then the caller reports it unchecked); true with no tasks before
// Vista. A folder that cannot be listed is one entry of its own, not read.
bool ListRegisteredTasks(std::vector<RegisteredTask>& tasks, std::string& problem);

// One connection to the local Task Scheduler 2.0, for the engine, which acts on one task by its path.
class TaskService {
public:
    TaskService();
    ~TaskService();
    TaskService(const TaskService&) = delete;
    TaskService& operator=(const TaskService&) = delete;

    // False, with the reason, when the service cannot be reached (or before Vista).
    bool Connect(std::string& problem);

    enum class Found { Yes, Absent, Failed };
    // The task at `path` with its exec actions and its definition as XML.
    Found Open(const std::wstring& path, RegisteredTask& task, std::wstring& xml, std::string& problem);
    // Deletes the task at `path`; true only when the service reports it gone.
    bool Delete(const std::wstring& path, std::string& problem);
    enum class Registered { Yes, Exists, Failed };
    // Registers `xml` at `path` as a new task (never replacing one).
    Registered Register(const std::wstring& path, const std::wstring& xml, std::string& problem);

    struct Connection;

private:
    friend bool ListRegisteredTasks(std::vector<RegisteredTask>& tasks, std::string& problem);
    std::unique_ptr<Connection> connection_;
};

// Whether `path` has the shape of a task path: "\" then names separated by single "\", none empty,
// "." or "..", none holding a character a task name cannot have.
bool IsRegisteredTaskPath(const std::wstring& path);
