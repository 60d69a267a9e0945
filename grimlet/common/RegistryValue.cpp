#include "grimlet/common/RegistryValue.h"

#include <cwchar>

#include "platform/system/OrdinalName.h"

namespace {
constexpr DWORD kValueChars = 260;
constexpr DWORD kPathChars = 260;
}  // namespace

bool ReadServiceString(HKEY key, const wchar_t* name, std::wstring& text) {
    return ReadServiceStringStatus(key, name, text) == ERROR_SUCCESS;
}

LONG ReadServiceStringStatus(HKEY key, const wchar_t* name, std::wstring& text) {
    wchar_t buffer[kValueChars];
    DWORD size = sizeof buffer;
    DWORD type = REG_NONE;
    const LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    const bool isString = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (result == ERROR_MORE_DATA) return isString ? ERROR_MORE_DATA : ERROR_FILE_NOT_FOUND;
    if (result != ERROR_SUCCESS) return result;
    if (!isString) return ERROR_FILE_NOT_FOUND;
    std::size_t chars = size / sizeof(wchar_t);
    if (chars > kValueChars) chars = kValueChars;
    text.assign(buffer, wcsnlen(buffer, chars));
    return ERROR_SUCCESS;
}

bool ExpandServicePath(const std::wstring& raw, std::wstring& expanded) {
    wchar_t buffer[kPathChars];
    DWORD needed = ExpandEnvironmentStringsW(raw.c_str(), buffer, kPathChars);
    if (needed == 0 || needed > kPathChars) return false;
    buffer[kPathChars - 1] = L'\0';
    expanded = buffer;
    return true;
}

bool IsNetsvcsImagePath(const std::wstring& imagePath) {
    const std::wstring lower = LowerCaseOrdinal(imagePath);
    return lower.find(L"svchost.exe") != std::wstring::npos && lower.find(L"-k") != std::wstring::npos &&
           lower.find(L"netsvcs") != std::wstring::npos;
}
