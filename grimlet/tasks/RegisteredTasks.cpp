#include "grimlet/tasks/RegisteredTasks.h"

#include <windows.h>

#include <oleauto.h>
#include <taskschd.h>

#include "grimlet/tasks/SystemComClass.h"
#include "grimlet/tasks/TaskFileLookup.h"
#include "platform/system/OsVersion.h"

namespace {

const CLSID kTaskSchedulerClass = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
// Task folders nest a few levels deep; a deeper tree is not walked further, and said so.
constexpr int kMaxFolderDepth = 32;

std::string Hex(HRESULT result) {
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text) : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return text_; }
    BSTR* Receive() {
        SysFreeString(text_);
        text_ = nullptr;
        return &text_;
    }
    std::wstring Text() const { return text_ ? std::wstring(text_, SysStringLen(text_)) : std::wstring(); }

private:
    BSTR text_ = nullptr;
};

VARIANT Empty() {
    VARIANT value;
    VariantInit(&value);
    return value;
}

VARIANT Index(LONG index) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = index;
    return value;
}

bool IsAbsent(HRESULT result) {
    return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

bool BeforeVista() {
    OsVersionFacts facts;
    return ReadOsVersionFacts(facts) && facts.majorVersion < 6;
}

// The folder part and the name of "\Folder\Name".
void SplitPath(const std::wstring& path, std::wstring& folder, std::wstring& name) {
    const std::size_t slash = path.rfind(L'\\');
    folder = slash == 0 ? L"\\" : path.substr(0, slash);
    name = path.substr(slash + 1);
}

// The exec actions of a task; any other action (a COM handler, a mail, a message) runs no program.
bool ReadActions(IRegisteredTask* task, std::vector<TaskCommand>& actions, std::string& problem) {
    ComRef<ITaskDefinition> definition;
    ComRef<IActionCollection> collection;
    LONG count = 0;
    HRESULT result = task->get_Definition(definition.Receive());
    if (SUCCEEDED(result)) result = definition->get_Actions(collection.Receive());
    if (SUCCEEDED(result)) result = collection->get_Count(&count);
    if (FAILED(result)) {
        problem = "its actions cannot be read (" + Hex(result) + ")";
        return false;
    }
    for (LONG index = 1; index <= count; ++index) {
        ComRef<IAction> action;
        TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
        result = collection->get_Item(index, action.Receive());
        if (SUCCEEDED(result)) result = action->get_Type(&type);
        if (FAILED(result)) {
            problem = "action " + std::to_string(index) + " cannot be read (" + Hex(result) + ")";
            return false;
        }
        if (type != TASK_ACTION_EXEC) continue;
        ComRef<IExecAction> exec;
        Bstr program, arguments, directory;
        result = action->QueryInterface(__uuidof(IExecAction), exec.ReceiveVoid());
        if (SUCCEEDED(result)) result = exec->get_Path(program.Receive());
        if (SUCCEEDED(result)) result = exec->get_Arguments(arguments.Receive());
        if (SUCCEEDED(result)) result = exec->get_WorkingDirectory(directory.Receive());
        if (FAILED(result)) {
            problem = "exec action " + std::to_string(index) + " cannot be read (" + Hex(result) + ")";
            return false;
        }
        actions.push_back({ExpandTaskText(program.Text()), ExpandTaskText(arguments.Text()), ExpandTaskText(directory.Text())});
    }
    return true;
}

RegisteredTask Describe(IRegisteredTask* task, const std::wstring& fallbackPath) {
    RegisteredTask entry;
    Bstr path;
    entry.path = SUCCEEDED(task->get_Path(path.Receive())) && !path.Text().empty() ? path.Text() : fallbackPath;
    entry.read = ReadActions(task, entry.actions, entry.problem);
    return entry;
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
    return folder == L"\\" ? L"\\" + name : folder + L"\\" + name;
}

void ListFolder(ITaskFolder* folder, const std::wstring& folderPath, int depth, std::vector<RegisteredTask>& tasks) {
    ComRef<IRegisteredTaskCollection> collection;
    LONG count = 0;
    HRESULT result = folder->GetTasks(TASK_ENUM_HIDDEN, collection.Receive());
    if (SUCCEEDED(result)) result = collection->get_Count(&count);
    if (FAILED(result)) {
        tasks.push_back({folderPath, {}, false, "the folder's tasks cannot be listed (" + Hex(result) + ")"});
    } else {
        for (LONG index = 1; index <= count; ++index) {
            ComRef<IRegisteredTask> task;
            result = collection->get_Item(Index(index), task.Receive());
            if (FAILED(result)) {
                tasks.push_back({Joined(folderPath, L"#" + std::to_wstring(index)), {}, false,
                                 "the task cannot be read (" + Hex(result) + ")"});
                continue;
            }
            tasks.push_back(Describe(task.Get(), Joined(folderPath, L"#" + std::to_wstring(index))));
        }
    }
    ComRef<ITaskFolderCollection> folders;
    count = 0;
    result = folder->GetFolders(0, folders.Receive());
    if (SUCCEEDED(result)) result = folders->get_Count(&count);
    if (FAILED(result)) {
        tasks.push_back({folderPath, {}, false, "the folder's subfolders cannot be listed (" + Hex(result) + ")"});
        return;
    }
    for (LONG index = 1; index <= count; ++index) {
        ComRef<ITaskFolder> child;
        Bstr childPath;
        result = folders->get_Item(Index(index), child.Receive());
        if (SUCCEEDED(result)) result = child->get_Path(childPath.Receive());
        if (FAILED(result)) {
            tasks.push_back({Joined(folderPath, L"#" + std::to_wstring(index)), {}, false,
                             "a subfolder cannot be opened (" + Hex(result) + ")"});
            continue;
        }
        if (depth + 1 >= kMaxFolderDepth) {
            tasks.push_back({childPath.Text(), {}, false, "the folders nest too deep to be walked"});
            continue;
        }
        ListFolder(child.Get(), childPath.Text(), depth + 1, tasks);
    }
}

}  // namespace

struct TaskService::Connection {
    ComOnThisThread com;  // first: it outlives the objects below
    ComRef<ITaskService> service;

    bool Folder(const std::wstring& path, ComRef<ITaskFolder>& folder, HRESULT& result) {
        Bstr name(path);
        result = service->GetFolder(name.Get(), folder.Receive());
        return SUCCEEDED(result);
    }
};

TaskService::TaskService() = default;
TaskService::~TaskService() = default;

bool TaskService::Connect(std::string& problem) {
    connection_.reset(new Connection());
    if (BeforeVista()) {
        problem = "there is no Task Scheduler 2.0 before Vista";
        connection_.reset();
        return false;
    }
    if (!connection_->com.Usable()) {
        problem = "COM cannot be used on this thread";
        connection_.reset();
        return false;
    }
    if (!CreateSystemComObject(L"taskschd.dll", kTaskSchedulerClass, __uuidof(ITaskService),
                               connection_->service.ReceiveVoid(), problem)) {
        connection_.reset();
        return false;
    }
    const HRESULT result = connection_->service->Connect(Empty(), Empty(), Empty(), Empty());
    if (FAILED(result)) {
        problem = "the Task Scheduler cannot be reached (" + Hex(result) + ")";
        connection_.reset();
        return false;
    }
    return true;
}

TaskService::Found TaskService::Open(const std::wstring& path, RegisteredTask& task, std::wstring& xml,
                                     std::string& problem) {
    task = RegisteredTask();
    task.path = path;
    xml.clear();
    if (!connection_ || !IsRegisteredTaskPath(path)) {
        problem = "no task path, or no connection";
        return Found::Failed;
    }
    std::wstring folderPath, name;
    SplitPath(path, folderPath, name);
    ComRef<ITaskFolder> folder;
    HRESULT result = S_OK;
    if (!connection_->Folder(folderPath, folder, result)) {
        if (IsAbsent(result)) return Found::Absent;
        problem = "its folder cannot be opened (" + Hex(result) + ")";
        return Found::Failed;
    }
    ComRef<IRegisteredTask> registered;
    Bstr taskName(name);
    result = folder->GetTask(taskName.Get(), registered.Receive());
    if (IsAbsent(result)) return Found::Absent;
    Bstr definition;
    if (SUCCEEDED(result)) result = registered->get_Xml(definition.Receive());
    if (FAILED(result)) {
        problem = "the task cannot be read (" + Hex(result) + ")";
        return Found::Failed;
    }
    task.read = ReadActions(registered.Get(), task.actions, task.problem);
    if (!task.read) {
        problem = task.problem;
        return Found::Failed;
    }
    xml = definition.Text();
    return Found::Yes;
}

bool TaskService::Delete(const std::wstring& path, std::string& problem) {
    if (!connection_ || !IsRegisteredTaskPath(path)) {
        problem = "no task path, or no connection";
        return false;
    }
    std::wstring folderPath, name;
    SplitPath(path, folderPath, name);
    ComRef<ITaskFolder> folder;
    HRESULT result = S_OK;
    Bstr taskName(name);
    if (connection_->Folder(folderPath, folder, result)) result = folder->DeleteTask(taskName.Get(), 0);
    if (FAILED(result)) {
        problem = "the Task Scheduler refuses to delete the task (" + Hex(result) + ")";
        return false;
    }
    ComRef<IRegisteredTask> still;
    result = folder->GetTask(taskName.Get(), still.Receive());
    if (!IsAbsent(result)) {
        problem = "the task is still there after its deletion (" + Hex(result) + ")";
        return false;
    }
    return true;
}

TaskService::Registered TaskService::Register(const std::wstring& path, const std::wstring& xml, std::string& problem) {
    if (!connection_ || !IsRegisteredTaskPath(path)) {
        problem = "no task path, or no connection";
        return Registered::Failed;
    }
    std::wstring folderPath, name;
    SplitPath(path, folderPath, name);
    ComRef<ITaskFolder> folder;
    HRESULT result = S_OK;
    if (!connection_->Folder(folderPath, folder, result)) {
        problem = "its folder cannot be opened (" + Hex(result) + ")";
        return Registered::Failed;
    }
    Bstr taskName(name), definition(xml);
    ComRef<IRegisteredTask> existing;
    result = folder->GetTask(taskName.Get(), existing.Receive());
    if (SUCCEEDED(result)) return Registered::Exists;
    if (!IsAbsent(result)) {
        problem = "whether the task exists cannot be told (" + Hex(result) + ")";
        return Registered::Failed;
    }
    // The definition names its own account and logon; TASK_CREATE never replaces a task.
    ComRef<IRegisteredTask> registered;
    result = folder->RegisterTask(taskName.Get(), definition.Get(), TASK_CREATE, Empty(), Empty(), TASK_LOGON_NONE,
                                  Empty(), registered.Receive());
    if (result == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) || result == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS))
        return Registered::Exists;
    if (FAILED(result)) {
        problem = "the Task Scheduler refuses to register the task (" + Hex(result) + ")";
        return Registered::Failed;
    }
    return Registered::Yes;
}

bool ListRegisteredTasks(std::vector<RegisteredTask>& tasks, std::string& problem) {
    tasks.clear();
    problem.clear();
    if (BeforeVista()) return true;
    TaskService service;
    if (!service.Connect(problem)) return false;
    TaskService::Connection& connection = *service.connection_;
    ComRef<ITaskFolder> root;
    HRESULT result = S_OK;
    if (!connection.Folder(L"\\", root, result)) {
        problem = "the root task folder cannot be opened (" + Hex(result) + ")";
        return false;
    }
    ListFolder(root.Get(), L"\\", 0, tasks);
    return true;
}

bool IsRegisteredTaskPath(const std::wstring& path) {
    if (path.size() < 2 || path.size() >= MAX_PATH || path[0] != L'\\') return false;
    std::size_t start = 1;
    for (;;) {
        const std::size_t slash = path.find(L'\\', start);
        const std::wstring name = path.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
        if (name.empty() || name == L"." || name == L".." || name.find_first_of(L"/:*?\"<>|") != std::wstring::npos)
            return false;
        for (wchar_t c : name)
            if (c < 32) return false;
        if (slash == std::wstring::npos) return true;
        start = slash + 1;
    }
}
