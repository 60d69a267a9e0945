#include "grimlet/mendrel/TaskRemoval.h"

#include <windows.h>

#include <cstdio>
#include <new>

#include "grimlet/mendrel/FileRemover.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/tasks/JobFile.h"
#include "grimlet/tasks/TaskFolder.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"
#include "platform/system/UtcTime.h"
#include "platform/system/Utf8.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const wchar_t kQuarantined[] = L"quarantined";
const char kDescriptorMark[] = "Tidewash task 1\r\n";
const char kFormJob[] = "job";
const char kFormXml[] = "xml";
// A task's XML is a few kilobytes; a .job file at most JobFile::kMaxFileBytes.
constexpr std::size_t kMaxDefinitionBytes = 1u << 20;
constexpr uint64_t kMaxDescriptorBytes = kMaxDefinitionBytes + 4096;
constexpr int kSharingAttempts = 20;
constexpr DWORD kSharingWaitMs = 100;
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;

std::string Sha1Of(const void* data, std::size_t size) {
    FileDigest digest(false, true);
    digest.Update(static_cast<const char*>(data), size);
    return digest.FinishSha1Hex();
}

// What a task entry's file holds: a few header lines, an empty line, then the definition's bytes. The
// time and a number of this run make each removal's file, and so its id, its own.
struct TaskDescriptor {
    std::wstring name;
    std::string form;  // kFormJob or kFormXml
    DWORD attributes = 0;
    std::string wormSha1;
    std::wstring removedAt;
    std::string definition;

    std::vector<uint8_t> Bytes() const {
        char numbers[64];
        _snprintf(numbers, sizeof numbers, "%08lX\r\nrun\t%lu-%lu\r\n", attributes, GetCurrentProcessId(), GetTickCount());
        numbers[sizeof numbers - 1] = '\0';
        std::string text = std::string(kDescriptorMark) + "name\t" + Utf8FromWide(name) + "\r\nform\t" + form +
                           "\r\nworm\t" + wormSha1 + "\r\nremoved\t" + Utf8FromWide(removedAt) + "\r\nattributes\t" +
                           numbers + "bytes\t" + std::to_string(definition.size()) + "\r\n\r\n" + definition;
        return std::vector<uint8_t>(text.begin(), text.end());
    }

    // The reverse, refusing anything this code did not write.
    bool Parse(const std::string& bytes) {
        if (bytes.compare(0, sizeof kDescriptorMark - 1, kDescriptorMark) != 0) return false;
        std::size_t at = sizeof kDescriptorMark - 1;
        bool haveSize = false;
        uint64_t size = 0;
        for (;;) {
            const std::size_t end = bytes.find("\r\n", at);
            if (end == std::string::npos) return false;
            const std::string line = bytes.substr(at, end - at);
            at = end + 2;
            if (line.empty()) break;
            const std::size_t tab = line.find('\t');
            if (tab == std::string::npos) return false;
            const std::string key = line.substr(0, tab), value = line.substr(tab + 1);
            if (key == "name") name = WideFromUtf8(value);
            else if (key == "form") form = value;
            else if (key == "worm") wormSha1 = value;
            else if (key == "removed") removedAt = WideFromUtf8(value);
            else if (key == "attributes") attributes = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 16));
            else if (key == "bytes") {
                if (value.empty() || value.size() > 8 || value.find_first_not_of("0123456789") != std::string::npos)
                    return false;
                size = std::stoull(value);
                haveSize = true;
            }
        }
        if (!haveSize || size > kMaxDefinitionBytes || bytes.size() - at != size) return false;
        definition = bytes.substr(at);
        return !name.empty() && (form == kFormJob || form == kFormXml);
    }
};

std::string XmlBytes(const std::wstring& xml) {
    std::string bytes;
    for (wchar_t c : xml) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return bytes;
}

std::wstring XmlText(const std::string& bytes) {
    std::wstring xml;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        xml.push_back(static_cast<wchar_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return xml;
}

// Keeps the descriptor and records the entry, in that order; false (5) when either fails, with nothing
// left behind.
bool Keep(QuarantineStore& store, const TaskDescriptor& descriptor, QuarantineEntry& entry) {
    if (!store.Prepare()) return false;
    const std::vector<uint8_t> bytes = descriptor.Bytes();
    entry = QuarantineEntry();
    entry.kind = kQuarantineKindTask;
    entry.sha1 = Sha1Of(bytes.data(), bytes.size());
    entry.size = descriptor.definition.size();
    entry.attributes = descriptor.attributes ? descriptor.attributes : FILE_ATTRIBUTE_NORMAL;
    entry.keysName = std::wstring(entry.sha1.begin(), entry.sha1.end()) + L".task";
    entry.originalPath = descriptor.name;
    entry.state = kQuarantined;
    entry.time = entry.removedAt = descriptor.removedAt;
    if (!store.SaveNewFile(entry.keysName, bytes)) return false;
    if (!store.Record(entry)) {
        store.DiscardKeys(entry.keysName);
        return false;
    }
    TW_LOG(LogLevel::Info, "Task %S kept in the quarantine as %S", descriptor.name.c_str(), entry.keysName.c_str());
    return true;
}

// The entry is kept for the record, marked as a removal that did not happen.
int Undone(QuarantineStore& store, QuarantineEntry& entry, int code) {
    entry.state = L"undone";
    entry.time = IsoUtcNow();
    store.Record(entry);
    return code;
}

int RemoveJob(QuarantineStore& store, const std::wstring& name, const std::string& wormSha1,
              const TaskRemovalPlace& place) {
    if (place.tasksFolder.empty()) {
        TW_LOG(LogLevel::Error, "The Tasks folder cannot be named; nothing changed");
        return MendrelExitCode::NoLongerProven;
    }
    const std::wstring path = place.tasksFolder + L"\\" + name;
    // Nobody may write it while it is held; deleting it stays allowed, for the Task Scheduler's own
    // deletion below.
    KernelHandle file;
    DWORD openError = ERROR_SUCCESS;
    // The Task Scheduler service reads a task file it sees change, briefly: a short wait outlasts it.
    for (int attempt = 0; attempt < kSharingAttempts; ++attempt) {
        file.Attach(CreateFileW(path.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        openError = GetLastError();
        if (file.IsValid() || openError != ERROR_SHARING_VIOLATION) break;
        Sleep(kSharingWaitMs);
    }
    if (!file.IsValid()) {
        TW_LOG(LogLevel::Warning, "%S cannot be opened (Error=%d); nothing changed", path.c_str(), (int)openError);
        return MendrelExitCode::NoLongerProven;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        TW_LOG(LogLevel::Warning, "%S is a folder or a link, not a task file; nothing changed", path.c_str());
        return MendrelExitCode::NoLongerProven;
    }
    std::vector<uint8_t> bytes;
    JobFileTask task;
    std::string problem;
    if (!ReadJobFileThrough(file.Get(), bytes, task, problem)) {
        TW_LOG(LogLevel::Warning, "%S %s; nothing changed", path.c_str(), problem.c_str());
        return MendrelExitCode::NoLongerProven;
    }
    if (!TaskRemoval::ProvenWorm({JobTaskCommand(task)}, wormSha1, place, problem)) {
        TW_LOG(LogLevel::Warning, "%S is no longer proven the worm's: %s; nothing changed", path.c_str(), problem.c_str());
        return MendrelExitCode::NoLongerProven;
    }

    TaskDescriptor descriptor;
    descriptor.name = name;
    descriptor.form = kFormJob;
    descriptor.attributes = information.dwFileAttributes;
    descriptor.wormSha1 = wormSha1;
    descriptor.removedAt = IsoUtcNow();
    descriptor.definition.assign(bytes.begin(), bytes.end());
    QuarantineEntry entry;
    if (!Keep(store, descriptor, entry)) {
        TW_LOG(LogLevel::Error, "%S cannot be kept in the quarantine; nothing changed", path.c_str());
        return MendrelExitCode::QuarantineFailed;
    }

    // The Task Scheduler deletes what it lists itself, so that it lets go of the task; the handle then
    // makes sure that the file it proved is the one that goes. A read-only file would refuse both.
    const bool attributesCleared = (information.dwFileAttributes & kSettableAttributes) != 0 &&
                                   SetOpenFileAttributes(file.Get(), FILE_ATTRIBUTE_NORMAL) == 0;
    problem.clear();
    const JobScheduler::Listed listed = place.schedulers->ListsJob(name, problem);
    // From Vista on, Task Scheduler 1.0 deletes by name, and so also a Task Scheduler 2.0 task of that
    // name in the root folder: only when there is none, or it is proven the worm's too, may it do so.
    // Otherwise only the proven file goes, through its handle.
    bool twinProven = true;
    {
        RegisteredTask twin;
        std::wstring twinXml;
        std::string twinProblem, twinReason;
        const std::wstring twinPath = L"\\" + name.substr(0, name.size() - 4);
        const TaskService::Found found = place.schedulers->OpenTask(twinPath, twin, twinXml, twinProblem);
        if (found == TaskService::Found::Yes)
            twinProven = twin.read && TaskRemoval::ProvenWorm(twin.actions, wormSha1, place, twinReason);
        else if (found == TaskService::Found::Failed)
            twinProven = twinProblem.find("before Vista") != std::string::npos;
        if (!twinProven)
            TW_LOG(LogLevel::Warning, "%S: Task Scheduler 2.0's %S is not proven the worm's (%s%s); deleted as a file only",
                   name.c_str(), twinPath.c_str(), twinProblem.c_str(), twinReason.c_str());
    }
    if (listed == JobScheduler::Listed::Yes && twinProven) {
        if (!place.schedulers->DeleteJob(name, problem))
            TW_LOG(LogLevel::Warning, "%S: %s; deleted as a file", name.c_str(), problem.c_str());
    } else {
        TW_LOG(LogLevel::Info, "%S is not listed by the Task Scheduler (%s); deleted as a file", name.c_str(),
               problem.empty() ? "no work item of that name" : problem.c_str());
    }
    const LONG status = MarkOpenFileForDeletion(file.Get());
    if (status != 0 && attributesCleared) SetOpenFileAttributes(file.Get(), information.dwFileAttributes);
    file.Close();
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        // Marked, yet a file of that name is there: a new one, not the one proved, which stays.
        TW_LOG(LogLevel::Error, "%S is still there (deletion status 0x%08lX)", path.c_str(), (unsigned long)status);
        return status == 0 ? MendrelExitCode::TaskSchedulerFailed
                           : Undone(store, entry, MendrelExitCode::TaskSchedulerFailed);
    }
    TW_LOG(LogLevel::Info, "Task %S removed", name.c_str());
    return MendrelExitCode::Removed;
}

int RemoveRegistered(QuarantineStore& store, const std::wstring& path, const std::string& wormSha1,
                     const TaskRemovalPlace& place) {
    RegisteredTask task;
    std::wstring xml;
    std::string problem;
    switch (place.schedulers->OpenTask(path, task, xml, problem)) {
    case TaskService::Found::Yes:
        break;
    case TaskService::Found::Absent:
        TW_LOG(LogLevel::Warning, "Task %S is not there; nothing changed", path.c_str());
        return MendrelExitCode::NoLongerProven;
    case TaskService::Found::Failed:
        TW_LOG(LogLevel::Error, "Task %S cannot be read: %s; nothing changed", path.c_str(), problem.c_str());
        return MendrelExitCode::TaskSchedulerFailed;
    }
    if (!TaskRemoval::ProvenWorm(task.actions, wormSha1, place, problem)) {
        TW_LOG(LogLevel::Warning, "Task %S is no longer proven the worm's: %s; nothing changed", path.c_str(),
               problem.c_str());
        return MendrelExitCode::NoLongerProven;
    }
    if (xml.empty() || xml.size() * 2 > kMaxDefinitionBytes) {
        TW_LOG(LogLevel::Error, "Task %S has no definition that can be kept; nothing changed", path.c_str());
        return MendrelExitCode::QuarantineFailed;
    }
    TaskDescriptor descriptor;
    descriptor.name = path;
    descriptor.form = kFormXml;
    descriptor.wormSha1 = wormSha1;
    descriptor.removedAt = IsoUtcNow();
    descriptor.definition = XmlBytes(xml);
    QuarantineEntry entry;
    if (!Keep(store, descriptor, entry)) {
        TW_LOG(LogLevel::Error, "Task %S cannot be kept in the quarantine; nothing changed", path.c_str());
        return MendrelExitCode::QuarantineFailed;
    }
    // A task has no handle to hold: it is read once more just before it goes, and must be what was kept.
    RegisteredTask again;
    std::wstring xmlAgain;
    if (place.schedulers->OpenTask(path, again, xmlAgain, problem) != TaskService::Found::Yes || xmlAgain != xml) {
        TW_LOG(LogLevel::Warning, "Task %S changed while it was kept; nothing changed", path.c_str());
        return Undone(store, entry, MendrelExitCode::NoLongerProven);
    }
    if (!place.schedulers->DeleteTask(path, problem)) {
        TW_LOG(LogLevel::Error, "Task %S: %s; nothing changed", path.c_str(), problem.c_str());
        return Undone(store, entry, MendrelExitCode::TaskSchedulerFailed);
    }
    TW_LOG(LogLevel::Info, "Task %S removed", path.c_str());
    return MendrelExitCode::Removed;
}

int RestoreJob(QuarantineStore& store, const QuarantineEntry& entry, const TaskDescriptor& descriptor,
               const TaskRemovalPlace& place) {
    if (!TaskRemoval::IsJobFileName(descriptor.name) || place.tasksFolder.empty())
        return MendrelExitCode::QuarantineUnreadable;
    const std::wstring path = place.tasksFolder + L"\\" + descriptor.name;
    const DWORD attributes = descriptor.attributes & kSettableAttributes;
    // Made plain, so that a failed write can still be taken back; its attributes come last.
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid()) {
        const DWORD error = GetLastError();
        TW_LOG(LogLevel::Warning, "CreateFileW(%S) Error=%d; nothing restored", path.c_str(), (int)error);
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? MendrelExitCode::RestoreRefused
                                                                           : MendrelExitCode::RestoreFailed;
    }
    DWORD written = 0;
    const std::string& bytes = descriptor.definition;
    QuarantineEntry restored = entry;
    restored.state = L"restored";
    restored.time = IsoUtcNow();
    if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.Get()) || !store.Record(restored)) {
        TW_LOG(LogLevel::Error, "Writing %S back failed (Error=%d); nothing restored", path.c_str(), (int)GetLastError());
        const LONG undone = MarkOpenFileForDeletion(file.Get());
        if (undone != 0)
            TW_LOG(LogLevel::Error, "%S could not be taken back (status 0x%08lX)", path.c_str(), (unsigned long)undone);
        return MendrelExitCode::RestoreFailed;
    }
    if (attributes && SetOpenFileAttributes(file.Get(), attributes) != 0)
        TW_LOG(LogLevel::Warning, "%S restored without its attributes 0x%lX", path.c_str(), (unsigned long)attributes);
    TW_LOG(LogLevel::Info, "Restored task %S", path.c_str());
    return MendrelExitCode::Restored;
}

int RestoreRegistered(QuarantineStore& store, const QuarantineEntry& entry, const TaskDescriptor& descriptor,
                      const TaskRemovalPlace& place) {
    if (!IsRegisteredTaskPath(descriptor.name) || descriptor.definition.size() % 2 != 0)
        return MendrelExitCode::QuarantineUnreadable;
    std::string problem;
    switch (place.schedulers->RegisterTask(descriptor.name, XmlText(descriptor.definition), problem)) {
    case TaskService::Registered::Yes:
        break;
    case TaskService::Registered::Exists:
        TW_LOG(LogLevel::Warning, "Task %S exists; nothing restored", descriptor.name.c_str());
        return MendrelExitCode::RestoreRefused;
    case TaskService::Registered::Failed:
        TW_LOG(LogLevel::Error, "Task %S: %s; nothing restored", descriptor.name.c_str(), problem.c_str());
        return MendrelExitCode::RestoreFailed;
    }
    QuarantineEntry restored = entry;
    restored.state = L"restored";
    restored.time = IsoUtcNow();
    if (!store.Record(restored)) {
        TW_LOG(LogLevel::Error, "The manifest cannot say that %S is restored; it is taken back", descriptor.name.c_str());
        place.schedulers->DeleteTask(descriptor.name, problem);
        return MendrelExitCode::RestoreFailed;
    }
    TW_LOG(LogLevel::Info, "Restored task %S", descriptor.name.c_str());
    return MendrelExitCode::Restored;
}

}  // namespace

JobScheduler::Listed SystemTaskSchedulers::ListsJob(const std::wstring& fileName, std::string& problem) {
    return JobsConnected(problem) ? jobs_.Lists(fileName, problem) : JobScheduler::Listed::Failed;
}

bool SystemTaskSchedulers::DeleteJob(const std::wstring& fileName, std::string& problem) {
    return JobsConnected(problem) && jobs_.Delete(fileName, problem);
}

TaskService::Found SystemTaskSchedulers::OpenTask(const std::wstring& path, RegisteredTask& task, std::wstring& xml,
                                                  std::string& problem) {
    return TasksConnected(problem) ? tasks_.Open(path, task, xml, problem) : TaskService::Found::Failed;
}

bool SystemTaskSchedulers::DeleteTask(const std::wstring& path, std::string& problem) {
    return TasksConnected(problem) && tasks_.Delete(path, problem);
}

TaskService::Registered SystemTaskSchedulers::RegisterTask(const std::wstring& path, const std::wstring& xml,
                                                           std::string& problem) {
    return TasksConnected(problem) ? tasks_.Register(path, xml, problem) : TaskService::Registered::Failed;
}

bool SystemTaskSchedulers::JobsConnected(std::string& problem) {
    if (jobsState_ == 0) jobsState_ = jobs_.Connect(problem) ? 1 : -1;
    if (jobsState_ < 0 && problem.empty()) problem = "Task Scheduler 1.0 cannot be reached";
    return jobsState_ > 0;
}

bool SystemTaskSchedulers::TasksConnected(std::string& problem) {
    if (tasksState_ == 0) tasksState_ = tasks_.Connect(problem) ? 1 : -1;
    if (tasksState_ < 0 && problem.empty()) problem = "Task Scheduler 2.0 cannot be reached";
    return tasksState_ > 0;
}

SystemTaskPlace::SystemTaskPlace() {
    place_.tasksFolder = ::SystemTasksFolder();
    place_.searchFolders = SystemTaskSearchFolders();
    place_.lookup = &lookup_;
    place_.schedulers = &schedulers_;
}

namespace TaskRemoval {

bool IsJobFileName(const std::wstring& name) {
    if (name.size() < 5 || name.size() > 200 || _wcsicmp(name.c_str() + name.size() - 4, L".job") != 0) return false;
    if (name.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos || name[0] == L' ' || name[0] == L'.') return false;
    for (wchar_t c : name)
        if (c < 32) return false;
    return true;
}

bool ProvenWorm(const std::vector<TaskCommand>& commands, const std::string& wormSha1, const TaskRemovalPlace& place,
                std::string& reason) {
    // Known by its bytes only: no volume or file index, so that no other file can match by its name.
    const std::vector<ProvenWormDll> worm = {{L"", {0, 0, wormSha1}}};
    if (wormSha1.size() != 40) {
        reason = "no SHA-1 to prove it by";
        return false;
    }
    const WormTaskDecision decision(worm, place.searchFolders, *place.lookup);
    bool wormFound = false;
    reason = "it runs no program";
    for (const TaskCommand& command : commands) {
        const WormTaskVerdict verdict = decision.Judge(command);
        if (verdict.kind == WormTaskVerdict::Kind::Unchecked) {
            reason = verdict.reason;
            return false;
        }
        if (verdict.kind == WormTaskVerdict::Kind::Worm) wormFound = true;
        if (!wormFound) reason = verdict.reason;
    }
    if (wormFound) reason = "it runs the worm's DLL";
    return wormFound;
}

int Remove(QuarantineStore& store, const std::wstring& name, const std::string& wormSha1, const TaskRemovalPlace& place) {
    TW_LOG_SCOPE("TaskRemoval::Remove()");
    try {
        if (IsJobFileName(name)) return RemoveJob(store, name, wormSha1, place);
        if (IsRegisteredTaskPath(name)) return RemoveRegistered(store, name, wormSha1, place);
        return MendrelExitCode::BadCommandLine;
    } catch (const std::bad_alloc&) {
        TW_LOG(LogLevel::Error, "Out of memory while removing task %S; nothing changed", name.c_str());
        return MendrelExitCode::QuarantineFailed;
    }
}

int Restore(QuarantineStore& store, const QuarantineEntry& entry, const TaskRemovalPlace& place) {
    TW_LOG_SCOPE("TaskRemoval::Restore()");
    std::string bytes;
    TaskDescriptor descriptor;
    if (entry.keysName.empty() || !store.LoadFile(entry.keysName, kMaxDescriptorBytes, bytes) ||
        Sha1Of(bytes.data(), bytes.size()) != entry.sha1 || !descriptor.Parse(bytes) ||
        descriptor.name != entry.originalPath) {
        TW_LOG(LogLevel::Error, "%S is not the task kept as %s; nothing restored", entry.keysName.c_str(),
               entry.sha1.c_str());
        return MendrelExitCode::QuarantineUnreadable;
    }
    return descriptor.form == kFormJob ? RestoreJob(store, entry, descriptor, place)
                                       : RestoreRegistered(store, entry, descriptor, place);
}

}  // namespace TaskRemoval
