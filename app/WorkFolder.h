#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/security/ProtectedDataFolder.h"
#include "platform/win32/KernelHandle.h"

// The folder a run unpacks its plug-in and engine into, made new by this very run: owned by
// Administrators, open to Administrators and SYSTEM alone, and held open without delete sharing for the
// whole run, so that nobody can put code into it or swap it for a folder of their own. A folder of
// that name left from before is removed first; if anything of it stays (a file held open by another
// program), no folder is made and the run stops.
//
// Every run, the dialog's as an unattended one, makes a new folder under the per-machine "Work" folder
// and removes it when the run ends; the current directory plays no part, so that a program started in
// a folder ordinary users may write (Downloads, a stick, %TEMP% of SYSTEM) never runs, or deletes, what
// they put there. Make one only while holding SingleRunGuard: folders that earlier runs left there are
// removed first.
//
// The program's protected copy (ProtectedCopy) already runs from such a folder, made by its first
// process: there the run's folder is the one the copy lies in, opened and checked again by handle, and
// left for the first process to remove once the copy has ended.
class WorkFolder {
public:
    enum class Purpose {
        ThisRun,  // the run's own folder: the copy's, or a new one
        ForACopy  // a new folder for the protected copy, made without the one-run guard: nothing else is removed
    };
    explicit WorkFolder(Purpose purpose = Purpose::ThisRun);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    bool IsReady() const { return folder_.IsValid(); }
    // The full path, also when it could not be made (empty when it could not even be named).
    const std::wstring& Path() const { return path_; }
    // Why there is no folder; empty when there is one.
    const std::wstring& Failure() const { return failure_; }
    // The per-machine levels that someone else had made and this run took over (ProtectedDataFolder).
    std::vector<std::wstring> TakenOver() const;

    // The folder handle, for naming files inside it through ProtectedDataFolder.
    HANDLE Handle() const { return folder_.Get(); }

private:
    void OpenCopysOwn(const std::wstring& name);
    void MakeNew();

    std::unique_ptr<ProtectedDataFolder> machineFolder_;
    KernelHandle folder_;
    std::wstring path_;
    std::wstring failure_;
    bool removeAtEnd_ = false;
};
