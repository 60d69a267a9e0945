#include "grimlet/tasks/TaskFolder.h"

#include <windows.h>

#include "platform/log/Logger.h"
#include "platform/system/FileSystemRedirectionGuard.h"
#include "platform/win32/FindHandle.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletTasks";

namespace {

// One byte more than the reader takes, so that an oversized file is told from one of the largest size.
bool ReadBounded(HANDLE file, std::vector<uint8_t>& bytes, std::string& problem) {
    bytes.assign(JobFile::kMaxFileBytes + 1, 0);
    std::size_t have = 0;
    while (have < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + have, static_cast<DWORD>(bytes.size() - have), &got, nullptr)) {
            problem = "cannot be read (" + std::to_string(GetLastError()) + ")";
            return false;
        }
        if (got == 0) break;
        have += got;
    }
    bytes.resize(have);
    return true;
}

void ReadOne(const std::wstring& path, TaskFileEntry& entry) {
    KernelHandle file;
    {
        FileSystemRedirectionGuard redirection;
        file.Attach(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    }
    if (!file.IsValid()) {
        entry.problem = "cannot be opened (" + std::to_string(GetLastError()) + ")";
        return;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        entry.problem = "is a folder or a link, not a task file";
        return;
    }
    std::vector<uint8_t> bytes;
    entry.read = ReadJobFileThrough(file.Get(), bytes, entry.task, entry.problem);
}

}  // namespace

bool ReadJobFileThrough(void* file, std::vector<uint8_t>& bytes, JobFileTask& task, std::string& problem) {
    if (!ReadBounded(file, bytes, problem)) return false;
    return JobFile::Parse(bytes.data(), bytes.size(), task, problem);
}

std::vector<TaskFileEntry> ReadTaskFolder(const std::wstring& folder) {
    std::vector<TaskFileEntry> entries;
    WIN32_FIND_DATAW found = {};
    FindHandle search;
    {
        FileSystemRedirectionGuard redirection;
        search.Attach(FindFirstFileW((folder + L"\\*.job").c_str(), &found));
    }
    if (!search.IsValid()) {
        // No folder, or no task in it, is no task; a folder the worm closed to this account is a gap.
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return entries;
        TaskFileEntry unlisted;
        unlisted.name = L"folder " + folder;
        unlisted.problem = "cannot be listed (" + std::to_string(error) + ")";
        TW_LOG(LogLevel::Warning, "Tasks folder %S %s", folder.c_str(), unlisted.problem.c_str());
        entries.push_back(unlisted);
        return entries;
    }
    do {
        // "*.job" also matches 8.3 names of longer extensions: only a real ".job" name is a task.
        const std::wstring name = found.cFileName;
        if (name.size() < 5 || _wcsicmp(name.c_str() + name.size() - 4, L".job") != 0) continue;
        TaskFileEntry entry;
        entry.name = name;
        ReadOne(folder + L"\\" + name, entry);
        if (!entry.read) TW_LOG(LogLevel::Warning, "task %S %s", name.c_str(), entry.problem.c_str());
        entries.push_back(entry);
    } while (FindNextFileW(search.Get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        TaskFileEntry cut;
        cut.name = L"folder " + folder;
        cut.problem = "could not be listed to its end (" + std::to_string(GetLastError()) + ")";
        entries.push_back(cut);
    }
    return entries;
}

std::wstring SystemTasksFolder() {
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length + 7 >= MAX_PATH) return std::wstring();
    return std::wstring(buffer, length) + L"\\Tasks";
}
