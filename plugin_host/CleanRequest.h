#pragma once
#include <cstdint>
#include <string>

// Operation bases: a request's operation is its cleaner's id plus the base of the handler's kind,
// so the operation names exactly one handler.
namespace CleanOperation {
constexpr int32_t GeneralBase = 0x401000;
constexpr int32_t FileBase = 0x402000;
}  // namespace CleanOperation

// One chosen item as a cleaner receives it.
struct CleanRequest {
    int32_t itemId = 0;
    int32_t operation = 0;
    std::wstring path;  // file items: the full path; otherwise empty
    int32_t sourceValue = 0;
    std::wstring secondText;
    std::wstring thirdText;
};
