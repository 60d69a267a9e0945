#pragma once
#include <cstdint>
#include <string>

class CleanRequestList;
class ICleanReporter;

// The clean manager's view of a cleaner.
class SKItemCleaner {
public:
    virtual int32_t IsAvailable() = 0;
    virtual int32_t GetId() = 0;
    // Matched, case ignored, against an item's handler name.
    virtual std::wstring GetName() = 0;
    // Cleans the requests of the list meant for this cleaner (by operation code).
    virtual void Clean(CleanRequestList* requests) = 0;
    // Where outcomes go; set once, when the cleaner is added to the clean manager.
    virtual void SetReporter(ICleanReporter* reporter) = 0;
    // The clean manager owns its cleaners.
    virtual ~SKItemCleaner() = default;
};
