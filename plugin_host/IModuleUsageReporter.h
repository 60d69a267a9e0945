#pragma once
#include <string>

// Records that a module (by full path) is used by something a scanner looked at.
class IModuleUsageReporter {
public:
    virtual ~IModuleUsageReporter() = default;
    virtual void ReportModuleUsage(const std::wstring& modulePath, const std::wstring& usedBy) = 0;
};
