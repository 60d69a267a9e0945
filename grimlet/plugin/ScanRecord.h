#pragma once
#include <cstdint>
#include <string>

struct ServiceEntry;

// Kinds of ScanRecord.
constexpr uint32_t kScanRecordWormService = 1;
constexpr uint32_t kScanRecordWormThreads = 2;
constexpr uint32_t kScanRecordApiHookFirst = 3;  // one kind per entry of the hooked-entry table
constexpr uint32_t kScanRecordApiHookLast = 9;

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
