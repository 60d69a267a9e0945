#pragma once
#include <memory>
#include <string>

#include "platform/security/ProtectedDataFolder.h"
#include "platform/win32/KernelHandle.h"

// The folder a run unpacks its plug-in and engine into, made new by this very run: owned by
// Administrators, open to Administrators and SYSTEM alone, and held open without delete sharing for the
// whole run, so that nobody can put code into it or swap it for a folder of their own. A folder of
// that name left from before is removed first; if anything of it stays (a file held open by another
// program), no folder is made and the run stops.
//
// The dialog's folder is "GRIMLET专杀" in the current directory and stays after the run, as it always
// has; an unattended run's folder is a new one under the per-machine "Work" folder and is removed when
// the run ends, so that a script started in a folder ordinary users may write (%TEMP% of SYSTEM) never
// runs what they put there. Make an unattended one only while holding SingleRunGuard: folders that
// earlier runs left there are removed first.
class WorkFolder {
public:
    enum class Place { CurrentDirectory, MachineFolder };

    explicit WorkFolder(Place place);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    bool IsReady() const { return folder_.IsValid(); }
    // The full path, also when it could not be made (empty when it could not even be named).
    const std::wstring& Path() const { return path_; }
    // Why there is no folder; empty when there is one.
    const std::wstring& Failure() const { return failure_; }

private:
    void MakeInCurrentDirectory();
    void MakeUnderMachineFolder();

    std::unique_ptr<ProtectedDataFolder> machineFolder_;
    KernelHandle folder_;
    std::wstring path_;
    std::wstring failure_;
    bool removeAtEnd_ = false;
};
