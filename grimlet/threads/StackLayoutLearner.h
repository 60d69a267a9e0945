#pragma once
// Learns where a system's thread start-up code leaves a thread's start address and a recognisable
// return address, from the stacks of two probe threads whose start routine is known: one started
// without a parameter and one with. Used where the constants table does not describe the system.
#include <functional>
#include <utility>

#include "grimlet/threads/OsInfo.h"

class StackImage;

class StackLayoutLearner {
public:
    // Whether a word is a return address into the system modules that start threads (ntdll, kernel32).
    // Those modules lie at the same address in every process, so such a word is the same on every
    // thread; anything else on a stack (pointers, counters) is not.
    using SystemCodeTest = std::function<bool(StackWord)>;

    explicit StackLayoutLearner(SystemCodeTest isSystemCode) : isSystemCode_(std::move(isSystemCode)) {}
    virtual ~StackLayoutLearner() = default;

    // Fills depths, picks and marks of `os` (whose version code decides the anchor, as in the search)
    // with the layout both stacks share: the distance from the anchor down to `start`, and the nearest
    // system return address below `start` that both stacks hold at the same distance from it. The
    // layout must read `start` back from both stacks. False, with `os` unchanged, when there is none.
    virtual bool Learn(const StackImage& withoutParameter, const StackImage& withParameter, StackWord start,
                       OsInfo& os) const;

private:
    SystemCodeTest isSystemCode_;
};

// The product's test: a word that lies in executable code of ntdll.dll or kernel32.dll in this process.
bool IsSystemReturnAddress(StackWord word);

// True when `address` lies in a file mapped into this process whose file name is `fileName`, case
// ignored.
bool LiesInMappedFile(StackWord address, const wchar_t* fileName);
