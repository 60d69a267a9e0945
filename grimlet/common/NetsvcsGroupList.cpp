#include "grimlet/common/NetsvcsGroupList.h"

#include <windows.h>

#include "platform/log/Logger.h"
#include "platform/system/Wow64.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const wchar_t kSvcHostPath[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SvcHost";
const wchar_t kGroupValue[] = L"netsvcs";

REGSAM NativeView() { return IsWow64() ? KEY_WOW64_64KEY : 0; }

bool ReadMultiString(HKEY key, std::vector<wchar_t>& data, DWORD& type) {
    DWORD size = 0;
    if (RegQueryValueExW(key, kGroupValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_MULTI_SZ) return false;
    data.assign(size / sizeof(wchar_t) + 2, L'\0');
    DWORD room = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, kGroupValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &room) !=
        ERROR_SUCCESS)
        return false;
    data.resize(room / sizeof(wchar_t));
    data.push_back(L'\0');
    data.push_back(L'\0');
    return true;
}

std::vector<std::wstring> Split(const std::vector<wchar_t>& multiString) {
    std::vector<std::wstring> items;
    std::size_t start = 0;
    while (start < multiString.size()) {
        std::size_t end = start;
        while (end < multiString.size() && multiString[end] != L'\0') ++end;
        if (end == start) break;
        items.emplace_back(&multiString[start], end - start);
        start = end + 1;
    }
    return items;
}

}  // namespace

namespace NetsvcsGroupList {

std::vector<wchar_t> WithoutName(const std::vector<wchar_t>& multiString, const std::wstring& name, bool& removed) {
    removed = false;
    std::vector<wchar_t> kept;
    for (const std::wstring& item : Split(multiString)) {
        if (lstrcmpiW(item.c_str(), name.c_str()) == 0) {
            removed = true;
            continue;
        }
        kept.insert(kept.end(), item.begin(), item.end());
        kept.push_back(L'\0');
    }
    kept.push_back(L'\0');
    return kept;
}

std::vector<std::wstring> Read() {
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kSvcHostPath, KEY_QUERY_VALUE | NativeView()) != ERROR_SUCCESS) return {};
    std::vector<wchar_t> data;
    DWORD type = REG_NONE;
    if (!ReadMultiString(key.Get(), data, type)) return {};
    return Split(data);
}

bool Remove(const std::wstring& serviceName) {
    RegistryKey key;
    LONG result = key.Open(HKEY_LOCAL_MACHINE, kSvcHostPath, KEY_QUERY_VALUE | KEY_SET_VALUE | NativeView());
    if (result == ERROR_FILE_NOT_FOUND) return true;
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) Error=%d", kSvcHostPath, (int)result);
        return false;
    }
    std::vector<wchar_t> data;
    DWORD type = REG_NONE;
    if (!ReadMultiString(key.Get(), data, type)) return true;
    bool removed = false;
    std::vector<wchar_t> kept = WithoutName(data, serviceName, removed);
    if (!removed) return true;
    result = RegSetValueExW(key.Get(), kGroupValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                            static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegSetValueExW(%S) Error=%d", kGroupValue, (int)result);
        return false;
    }
    TW_LOG(LogLevel::Info, "Removed %S from the netsvcs group", serviceName.c_str());
    return true;
}

bool Add(const std::wstring& serviceName) {
    RegistryKey key;
    LONG result = key.Open(HKEY_LOCAL_MACHINE, kSvcHostPath, KEY_QUERY_VALUE | KEY_SET_VALUE | NativeView());
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) Error=%d", kSvcHostPath, (int)result);
        return false;
    }
    std::vector<wchar_t> data;
    DWORD type = REG_NONE;
    if (!ReadMultiString(key.Get(), data, type)) {
        TW_LOG(LogLevel::Error, "No %S list to add %S to", kGroupValue, serviceName.c_str());
        return false;
    }
    bool listed = false;
    std::vector<wchar_t> kept = WithoutName(data, serviceName, listed);
    if (listed) return true;
    kept.pop_back();
    kept.insert(kept.end(), serviceName.begin(), serviceName.end());
    kept.push_back(L'\0');
    kept.push_back(L'\0');
    result = RegSetValueExW(key.Get(), kGroupValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                            static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegSetValueExW(%S) Error=%d", kGroupValue, (int)result);
        return false;
    }
    TW_LOG(LogLevel::Info, "Added %S to the netsvcs group", serviceName.c_str());
    return true;
}

}  // namespace NetsvcsGroupList
