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
// The worm's copy on a removable or network drive with the autorun.inf that starts it, and a scheduled
// task that runs a worm DLL: threats the cleanup engine removes, before the service DLL they prove
// themselves against.
constexpr uint32_t kScanRecordDriveCopy = 13;
constexpr uint32_t kScanRecordWormTask = 14;

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
    // Drive copy: the copy and its autorun.inf. Task: the task's name ("At1.job", or "\At1" for Task
    // Scheduler 2.0) and nothing.
    std::wstring objectPath;
    std::wstring relatedPath;
    // Drive copy: the copy's SHA-1 when the scan proved it; task: the proven worm DLL's it runs.
    std::string sha1;
};

inline ScanRecord InformationRecord(uint32_t kind, std::wstring what, std::wstring why) {
    ScanRecord record;
    record.kind = kind;
    record.title = std::move(why);
    record.detail = std::move(what);
    return record;
}
