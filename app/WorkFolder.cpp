#include "app/WorkFolder.h"

#include "app/ProtectedCopy.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "platform/system/DataFolder.h"
#include "platform/system/FileUtility.h"
#include "platform/win32/FindHandle.h"

namespace {

const wchar_t kWorkLeaf[] = L"Work";
constexpr int kUniqueNameAttempts = 16;

// "20240501T083000Z-1234-1": the run's start in UTC, the process and an attempt number, so that runs
// never share a folder.
std::wstring UniqueRunName(int attempt) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t name[64];
    _snwprintf(name, 64, L"%04u%02u%02uT%02u%02u%02uZ-%lu-%d", now.wYear, now.wMonth, now.wDay, now.wHour,
               now.wMinute, now.wSecond, GetCurrentProcessId(), attempt);
    name[63] = L'\0';
    return name;
}

// Folders of runs that ended without removing theirs (a power cut, a killed process). Only one run is
// alive at a time (SingleRunGuard), so nothing in there is in use by another run; what cannot be removed
// (a file still held open) stays for a later run.
void RemoveLeftovers(const std::wstring& workFolders, const std::wstring& ownName) {
    WIN32_FIND_DATAW entry;
    FindHandle search(FindFirstFileW((workFolders + L"\\*").c_str(), &entry));
    if (!search.IsValid()) return;
    std::vector<std::wstring> leftovers;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0 &&
            _wcsicmp(entry.cFileName, ownName.c_str()) != 0)
            leftovers.push_back(workFolders + L"\\" + entry.cFileName);
    } while (FindNextFileW(search.Get(), &entry));
    // A link is removed as a link; the tree behind it is never entered.
    for (const std::wstring& leftover : leftovers)
        if (!RemoveDirectoryRecursiveW(leftover)) DeleteFileW(leftover.c_str());
}

}  // namespace

WorkFolder::WorkFolder(Purpose purpose) {
    machineFolder_.reset(new ProtectedDataFolder(kWorkLeaf));
    if (!machineFolder_->IsOpen()) {
        path_ = machineFolder_->Path();
        failure_ = machineFolder_->Failure();
        return;
    }
    const std::wstring copysOwn = purpose == Purpose::ThisRun ? ProtectedCopy::RunFolderNameIn(machineFolder_->Path())
                                                              : std::wstring();
    // In a level someone else made, the maker may still hold a handle and change what is inside: only
    // this run's own folder, made new through the handle, is trusted there, and nothing else is touched.
    // Without the one-run guard nothing is removed: a running copy's folder is no leftover.
    if (purpose == Purpose::ThisRun && machineFolder_->TakenOver().empty())
        RemoveLeftovers(machineFolder_->Path(), copysOwn);
    if (copysOwn.empty())
        MakeNew();
    else
        OpenCopysOwn(copysOwn);
}

void WorkFolder::OpenCopysOwn(const std::wstring& name) {
    path_ = machineFolder_->Path() + L"\\" + name;
    std::wstring failure;
    folder_ = machineFolder_->OpenTrustedChild(name, failure);
    if (!folder_.IsValid()) failure_ = failure;
    // The first process removes it, once this copy's image is no longer mapped.
    removeAtEnd_ = false;
}

void WorkFolder::MakeNew() {
    std::wstring failure;
    for (int attempt = 1; attempt <= kUniqueNameAttempts && !folder_.IsValid(); ++attempt) {
        const std::wstring name = UniqueRunName(attempt);
        path_ = machineFolder_->Path() + L"\\" + name;
        folder_ = ProtectedDataFolder::CreateNewFolder(machineFolder_->Handle(), name, failure);
    }
    if (!folder_.IsValid()) {
        failure_ = machineFolder_->Path() + L"\\" + failure;
        return;
    }
    removeAtEnd_ = true;
}

std::vector<std::wstring> WorkFolder::TakenOver() const {
    return machineFolder_ ? machineFolder_->TakenOver() : std::vector<std::wstring>();
}

WorkFolder::~WorkFolder() {
    folder_.Close();
    if (removeAtEnd_) RemoveDirectoryRecursiveW(path_);
}
