#pragma once
#include <string>

#include "app/WorkFolder.h"
#include "platform/log/Logger.h"
#include "platform/system/FileUtility.h"

// What every run starts with, with or without the dialog: a work folder this run made (WorkFolder), the
// process inside it, the log open, and the payload unpacked into it. Nothing is unpacked, and so nothing
// is loaded or started later, unless the folder was made. Leaving the scope closes the log's event-trace
// registration, restores the current directory and then lets the folder go (an unattended run's folder
// is removed).
class PreparedWorkFolder {
public:
    PreparedWorkFolder();
    PreparedWorkFolder(const PreparedWorkFolder&) = delete;
    PreparedWorkFolder& operator=(const PreparedWorkFolder&) = delete;

    // The full path; empty when the name could not be resolved.
    const std::wstring& Path() const { return folder_.Path(); }
    // True when the components are unpacked and ready.
    bool Prepared() const { return prepared_; }
    // Why the components are not ready, for an unattended run's report.
    std::wstring Failure() const;
    // The per-machine levels this run took over from someone else, for the report's NOTE records.
    std::vector<std::wstring> TakenOver() const { return folder_.TakenOver(); }

private:
    // Members in the order of the steps: the destructors undo them in reverse.
    WorkFolder folder_;
    CurrentDirectoryGuard inWorkFolder_;
    Logger logger_;
    bool prepared_;
};
