#pragma once
#include <string>
#include <vector>

#include "app/ProtectedCopy.h"
#include "app/WorkFolder.h"
#include "app/unattended/CommandLineOptions.h"

// The first process's part: the run folder, the checked copy in it, the copy's run, and the copy's log
// handed on to this one.
class ProtectedCopyLauncher {
public:
    ProtectedCopyLauncher();
    ProtectedCopyLauncher(const ProtectedCopyLauncher&) = delete;
    ProtectedCopyLauncher& operator=(const ProtectedCopyLauncher&) = delete;

    bool IsReady() const { return failure_.empty(); }
    // Why there is no copy to run; empty when there is one.
    const std::wstring& Failure() const { return failure_; }

    // Runs the copy with this process's command line, start-up information and standard handles, waits
    // for it and returns its exit code; -1, with Failure() set, when it cannot be started.
    int RunCopy();
    // The logs the copy wrote (they go with its run folder) to the same names beside this program, where
    // they have always been: the program's own log after this process's lines, the others replaced. The
    // engine's log goes with the folder, as it always has.
    void HandOverLogs() const;

private:
    bool WriteCopy(const std::vector<unsigned char>& bytes);

    WorkFolder folder_;
    std::wstring copyPath_;
    std::wstring failure_;
};

// The whole first process: the copy's exit code, or -1 (with the dialog's box or the report's ERROR
// record) when no copy could be run.
int RunFromProtectedCopy(const CommandLineOptions& options);
// A process that is an untrusted copy stops at once: -1, with the box or the report.
int RefuseUntrustedCopy(const CommandLineOptions& options);
