#pragma once
// The processes that one scan passes over because the plug-in cannot examine them. Seen from the 32-bit
// plug-in under WOW64, a 64-bit process keeps its module list, process block and thread stacks outside
// the 32-bit view: every read there fails or returns something else, and a thread would look as if it
// ran outside every module. Such a process is skipped as one that cannot be opened is, and counted, so
// that the log says how much of the machine went unseen. A process (or a whole search) that should have
// been examined and could not be is kept by name with its reason: the scan reports it as unchecked.
#include <windows.h>

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/system/Wow64.h"

class OutOfReachProcesses {
public:
    // True, and the process counted, when `process` (a handle of process `processId` with query access)
    // is out of reach. A process that several steps pass over counts once.
    bool PassOver(DWORD processId, HANDLE process) {
        if (!IsBeyondWow64View(process)) return false;
        ids_.insert(processId);
        return true;
    }
    std::size_t Count() const { return ids_.size(); }

    void Unchecked(std::wstring what, std::wstring why) { unchecked_.emplace_back(std::move(what), std::move(why)); }
    const std::vector<std::pair<std::wstring, std::wstring>>& Unchecked() const { return unchecked_; }

private:
    std::set<DWORD> ids_;
    std::vector<std::pair<std::wstring, std::wstring>> unchecked_;
};
