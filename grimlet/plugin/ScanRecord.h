#pragma once
#include <cstdint>
#include <string>
#include <utility>

struct ServiceEntry;

// Kinds of ScanRecord.
constexpr uint32_t kScanRecordWormService = 1;
constexpr uint32_t kScanRecordWormThreads = 2;
constexpr uint32_t kScanRecordApiHookFirst = 3;  // one kind per entry of the hooked-entry table
constexpr uint32_t kScanRecordApiHookLast = 9;
// Not threats: an object the scan should have checked and could not (detail = what, title = why), and a
// note on what is out of the worm's reach by design. Both reach the host as "InformationFeedBack".
constexpr uint32_t kScanRecordUnchecked = 10;
constexpr uint32_t kScanRecordNote = 11;
// Not a threat either: AutoRun still on, a door the worm comes back through. A ticked row of class
// "Setting" that the plug-in turns off when it is chosen; never counted among the threats.
constexpr uint32_t kScanRecordAutoRun = 12;

// One finding of the last scan; its index in the result list is the found id the host hands back.
struct ScanRecord {
    uint32_t kind = 0;
    std::wstring title;   // handed to the host as the threat name
    std::wstring detail;  // handed to the host as the item's name
    // What the finding is about, by kind: worm service -> its entry in the service list (valid until the
    // next scan); worm threads -> nothing (the worm-thread list holds them); API hook -> the process id.
    const ServiceEntry* service = nullptr;
    uint32_t processId = 0;
    uint64_t processCreationTime = 0;  // API hook: with the id, names the process for good
};

inline ScanRecord InformationRecord(uint32_t kind, std::wstring what, std::wstring why) {
    ScanRecord record;
    record.kind = kind;
    record.title = std::move(why);
    record.detail = std::move(what);
    return record;
}
