#pragma once
// The worm threads that the last scan found, in the order found. Refilled by every scan; the removal
// reads it and leaves it as it is.
#include <windows.h>

#include <cstdint>
#include <vector>

class WormThreadList {
public:
    struct Entry {
        DWORD threadId;
        DWORD processId;
        uintptr_t startAddress;
        uint64_t creationTime;  // with the ids, tells the worm's thread from a later one with its id
    };

    void Clear() { entries_.clear(); }
    void Add(const Entry& entry) { entries_.push_back(entry); }
    bool Contains(DWORD threadId, DWORD processId, uint64_t creationTime) const {
        for (const Entry& entry : entries_)
            if (entry.threadId == threadId && entry.processId == processId && entry.creationTime == creationTime)
                return true;
        return false;
    }
    const std::vector<Entry>& Entries() const { return entries_; }
    bool Empty() const { return entries_.empty(); }

    static WormThreadList& Instance();

private:
    std::vector<Entry> entries_;
};
