#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "plugin_host/ItemDetail.h"

// One detected item. Its id is what the page shows, hands back when the user chooses, and what
// every clean request and clean result refers to.
struct ScanResult {
    int32_t id = -1;           // -1 until the item manager files it
    int32_t sourceValue = -1;  // general finding: the plug-in's found id; file: its file-table id
    int32_t itemType = -1;     // an ItemTypeRegistry id
    std::wstring name;         // what was found; the full path for files
    unsigned char fileSha1[20] = {};
    int32_t severity = 0;
    int32_t count = 0;
    std::wstring handlerName;  // the plug-in handler that found it; matched against cleaner names
    std::wstring threatName;
    std::wstring threatClass;  // "Trojan" keeps a file item away from the file cleaners
    std::shared_ptr<const ItemDetail> detail;
    int32_t subRank = 0;              // breaks ties between equal severities when merging
    int32_t excludedFromCleaning = 1; // cleared only for the items the user chose
    int32_t cleanState = 0;           // 1 cleaned, 2 not cleaned
    int32_t rebootNeeded = 0;
};
