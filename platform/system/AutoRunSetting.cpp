#include "platform/system/AutoRunSetting.h"

#include <cwchar>

#include "platform/system/Wow64.h"
#include "platform/win32/RegistryKey.h"

namespace {

// Values larger than this are neither the mapping nor the policy.
constexpr DWORD kMaxValueBytes = 4096;

std::wstring TextOf(const RegistryValueFacts& value) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2)
        text.push_back(static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8)));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

bool ReadValue(const wchar_t* path, const wchar_t* name, RegistryValueFacts& value) {
    value = RegistryValueFacts();
    RegistryKey key;
    LONG result = key.Open(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE | AutoRun::NativeView());
    if (result == ERROR_FILE_NOT_FOUND) return true;
    if (result != ERROR_SUCCESS) return false;
    std::vector<BYTE> data(kMaxValueBytes);
    DWORD type = REG_NONE;
    DWORD size = kMaxValueBytes;
    result = RegQueryValueExW(key.Get(), name, nullptr, &type, data.data(), &size);
    if (result == ERROR_FILE_NOT_FOUND) return true;
    if (result != ERROR_SUCCESS) return false;
    value.present = true;
    value.type = type;
    value.data.assign(data.begin(), data.begin() + size);
    return true;
}

std::wstring DescribeValue(const RegistryValueFacts& value, bool dword) {
    if (!value.present) return L"absent";
    wchar_t text[64];
    if (dword && value.type == REG_DWORD && value.data.size() == 4) {
        const DWORD number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                             (static_cast<DWORD>(value.data[3]) << 24);
        _snwprintf(text, 64, L"0x%lX", static_cast<unsigned long>(number));
    } else if (!dword && (value.type == REG_SZ || value.type == REG_EXPAND_SZ)) {
        std::wstring content = TextOf(value);
        // One line in a tab-separated report.
        for (wchar_t& c : content)
            if (c < 0x20) c = L' ';
        return content.empty() ? L"(empty)" : content;
    } else {
        _snwprintf(text, 64, L"type %lu, %u bytes", static_cast<unsigned long>(value.type),
                   static_cast<unsigned>(value.data.size()));
    }
    text[63] = L'\0';
    return text;
}

}  // namespace

namespace AutoRun {

bool IsOff(const AutoRunFacts& facts) {
    const RegistryValueFacts& mapping = facts.mapping;
    if (!mapping.present || mapping.type != REG_SZ || mapping.data.size() % 2 != 0) return false;
    const std::wstring text = TextOf(mapping);
    return text.find(L'\0') == std::wstring::npos && _wcsicmp(text.c_str(), kMappingText) == 0;
}

RegistryValueFacts OffMapping() {
    RegistryValueFacts value;
    value.present = true;
    value.type = REG_SZ;
    for (const wchar_t* c = kMappingText;; ++c) {
        value.data.push_back(static_cast<BYTE>(*c & 0xFF));
        value.data.push_back(static_cast<BYTE>(*c >> 8));
        if (*c == L'\0') break;
    }
    return value;
}

RegistryValueFacts OffNoDriveType() {
    RegistryValueFacts value;
    value.present = true;
    value.type = REG_DWORD;
    value.data = {static_cast<BYTE>(kNoDriveTypeAll), 0, 0, 0};
    return value;
}

REGSAM NativeView() { return IsWow64() ? KEY_WOW64_64KEY : 0; }

AutoRunFacts ReadFacts() {
    AutoRunFacts facts;
    const bool mapping = ReadValue(kMappingKey, nullptr, facts.mapping);
    const bool policy = ReadValue(kPolicyKey, kPolicyValue, facts.noDriveType);
    facts.readable = mapping && policy;
    return facts;
}

std::vector<std::wstring> Describe(const AutoRunFacts& facts) {
    return {L"Autorun.inf=" + DescribeValue(facts.mapping, false),
            std::wstring(kPolicyValue) + L"=" + DescribeValue(facts.noDriveType, true)};
}

}  // namespace AutoRun
