#pragma once
#include <cstdint>
#include <string>

// Clean states a cleaner reports.
namespace CleanStatus {
constexpr int32_t Cleaned = 1;
constexpr int32_t Failed = 2;
constexpr int32_t CleanedAfterRestart = 3;
}  // namespace CleanStatus

// One clean outcome.
struct CleanResult {
    CleanResult(int32_t itemId_, std::wstring handlerName_)
        : itemId(itemId_), handlerName(std::move(handlerName_)) {}

    int32_t reserved = -1;
    int32_t itemId;
    std::wstring handlerName;
    std::wstring action;  // the adapters set "Clean"
    std::wstring kind;    // "File", a plug-in type name, or "Unknown"
    std::wstring secondText;
    std::wstring name;    // what was cleaned
    std::wstring fourthText;
    std::wstring fifthText;
    int32_t status = CleanStatus::Failed;
    int32_t reasonCode = 0;  // 5: overridden because the file is on a read-only device
    int32_t pluginOutcome = 0;  // the plug-in's own outcome code, which may say why it failed
    std::wstring message;
};
