#pragma once
#include <string>

#include "platform/log/Logger.h"
#include "platform/system/FileUtility.h"

// What every run starts with, with or without the dialog: the work folder "GRIMLET专杀" resolved against
// the current directory, an earlier run's folder replaced by a fresh one, the process inside it, the
// log open, and the payload unpacked into it. Leaving the scope closes the log's event-trace
// registration first and then restores the current directory; the folder itself stays until the next
// start.
class PreparedWorkFolder {
public:
    PreparedWorkFolder();
    PreparedWorkFolder(const PreparedWorkFolder&) = delete;
    PreparedWorkFolder& operator=(const PreparedWorkFolder&) = delete;

    // The full path; empty when the name could not be resolved.
    const std::wstring& Path() const { return path_; }
    // True when the components are unpacked and ready.
    bool Prepared() const { return prepared_; }

private:
    // Members in the order of the steps: the destructors undo them in reverse.
    std::wstring path_;
    CurrentDirectoryGuard inWorkFolder_;
    Logger logger_;
    bool prepared_;
};
