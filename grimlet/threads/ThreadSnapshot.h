#pragma once
// Every thread of the machine as (owner process id, thread id), taken once per scan.
#include <windows.h>

#include <vector>

class ThreadSnapshot {
public:
    struct Entry {
        DWORD processId;
        DWORD threadId;
    };

    // Takes a new snapshot. On failure the previous content stays and false is returned.
    bool Refill();
    const std::vector<Entry>& Entries() const { return entries_; }

    static ThreadSnapshot& Instance();

private:
    std::vector<Entry> entries_;
};
