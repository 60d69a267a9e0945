#pragma once
#include <cstdint>
#include <string>

#include "plugin_host/FindingRecord.h"
#include "plugin_host/IModuleUsageReporter.h"

// Where a scanner sends what it finds (the scan manager). Slot order after the destructor:
// ReportModuleUsage, ReportActivity, ReportFinding, ReportFindingFields, ReportActivityEx,
// QueryOption, Reserved.
class IScanCommunicator : public IModuleUsageReporter {
public:
    // A sign of life from a scanner; it ends the watchdog's timing of the current file.
    virtual void ReportActivity(int32_t code, int32_t value, const std::wstring& text) = 0;
    // A finding to merge into the items.
    virtual void ReportFinding(const FindingRecord* finding) = 0;
    // A threat given field by field; recorded as a new item without merging.
    virtual void ReportFindingFields(int32_t pluginId, const std::wstring& handlerName, int32_t detectionFlag,
                                     int32_t subRank, int32_t sourceValue, int32_t itemType,
                                     const std::wstring& name, const std::wstring& threatName,
                                     const std::wstring& threatClass, const std::wstring& extraText1,
                                     const std::wstring& extraText2) = 0;
    // A sign of life with more detail; handled as ReportActivity.
    virtual void ReportActivityEx(int32_t pluginId, const std::wstring& handlerName, int32_t code, int32_t value,
                                  const std::wstring& name, const std::wstring& text1, const std::wstring& text2,
                                  const std::wstring& text3) = 0;
    virtual int32_t QueryOption() = 0;
    virtual void Reserved() = 0;
};
