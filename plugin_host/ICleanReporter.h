#pragma once
#include <cstdint>
#include <string>

#include "plugin_host/CleanRequest.h"
#include "plugin_host/CleanResult.h"
#include "plugin_host/IModuleUsageReporter.h"

// Where a cleaner sends its outcomes (the clean manager). Slot order after the destructor:
// ReportModuleUsage, ReportCleanResult, ReportActivity, ReportActivityEx.
class ICleanReporter : public IModuleUsageReporter {
public:
    // The outcome for `request`; the item is the request's item id.
    virtual void ReportCleanResult(int32_t pluginId, const CleanRequest* request, CleanResult* result) = 0;
    virtual void ReportActivity(int32_t code, int32_t value, const std::wstring& text) = 0;
    virtual void ReportActivityEx(int32_t pluginId, const std::wstring& handlerName, int32_t code, int32_t value,
                                  const std::wstring& name, const std::wstring& text1, const std::wstring& text2,
                                  const std::wstring& text3) = 0;
};
