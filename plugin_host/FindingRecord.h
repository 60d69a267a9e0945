#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "plugin_host/ItemDetail.h"
#include "plugin_host/ItemTypeRegistry.h"

// One finding as a scanner reports it.
struct FindingRecord {
    FindingRecord(int32_t pluginId_, std::wstring handlerName_)
        : pluginId(pluginId_), handlerName(std::move(handlerName_)) {}

    int32_t pluginId;
    std::wstring handlerName;
    int32_t severity = 4;
    int32_t subRank = 1;
    int32_t itemType = ItemType::File;
    std::wstring name;
    std::wstring threatName;
    std::wstring threatClass;
    int32_t count = 0;
    std::wstring detailText;
    std::shared_ptr<const ItemDetail> detail;
};
