#include "grimlet/mendrel/RegistryTreeCopy.h"

#include <memory>

#include "grimlet/mendrel/RegistryTreeDeleter.h"
#include "platform/log/Logger.h"
#include "platform/system/OrdinalName.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const char16_t kMachinePrefix[] = u"HKEY_LOCAL_MACHINE\\";
constexpr REGSAM kReadAccess = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
constexpr int kMaxDepth = 32;
constexpr DWORD kMaxValueNameChars = 16383;
constexpr DWORD kMaxValueBytes = 64u << 20;

// wchar_t is a UTF-16 code unit on Windows: the texts convert unit by unit.
std::u16string ToU16(const wchar_t* text, std::size_t length) { return std::u16string(text, text + length); }
std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

bool LiesUnder(const std::wstring& path, const std::wstring& root) {
    return path.size() > root.size() + 1 && path[root.size()] == L'\\' &&
           EqualIgnoringCase(path.substr(0, root.size()), root);
}

bool ReadValues(HKEY key, const std::wstring& path, std::vector<RegFileValue>& values) {
    DWORD maxData = 0;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxData,
                                   nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegQueryInfoKeyW(%S) Error=%d", path.c_str(), (int)result);
        return false;
    }
    std::vector<wchar_t> name(kMaxValueNameChars + 1);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) return true;
        // A value that grew since the key was asked about.
        if (result == ERROR_MORE_DATA && data.size() < kMaxValueBytes) {
            data.resize(dataSize > data.size() ? dataSize : data.size() * 2);
            continue;
        }
        if (result != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "RegEnumValueW(%S, %d) Error=%d", path.c_str(), (int)index, (int)result);
            return false;
        }
        RegFileValue value;
        value.name = ToU16(name.data(), nameLength);
        value.type = type;
        value.data.assign(data.begin(), data.begin() + dataSize);
        values.push_back(std::move(value));
        ++index;
    }
}

bool ReadTree(const std::wstring& path, int depth, std::vector<RegFileKey>& keys) {
    if (depth > kMaxDepth) {
        TW_LOG(LogLevel::Error, "%S lies too deep to be saved", path.c_str());
        return false;
    }
    std::unique_ptr<RegKeyUnlocker> unlocker;
    RegistryKey key;
    LONG result = OpenKeyUnlockingIfDenied(path, kReadAccess, key, unlocker);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) for saving Error=%d", path.c_str(), (int)result);
        return false;
    }
    RegFileKey image;
    image.path = kMachinePrefix + ToU16(path.c_str(), path.size());
    if (!ReadValues(key.Get(), path, image.values)) return false;
    keys.push_back(std::move(image));
    std::vector<std::wstring> children;
    if (!TakeSubkeyNames(key, path, children)) return false;
    for (const std::wstring& child : children)
        if (!ReadTree(path + L"\\" + child, depth + 1, keys)) return false;
    return true;
}

LONG WriteValue(HKEY key, const RegFileValue& value) {
    // RegSetValueExW counts a terminating NUL that it finds just past string data; data that ends
    // without one must stay as it was, so what follows it is never NUL.
    std::vector<BYTE> padded(value.data.begin(), value.data.end());
    padded.push_back(0xFF);
    padded.push_back(0xFF);
    std::wstring name = ToWide(value.name);
    return RegSetValueExW(key, name.c_str(), 0, value.type, padded.data(), static_cast<DWORD>(value.data.size()));
}

}  // namespace

std::wstring MachineRelativePath(const std::u16string& imagePath) {
    std::wstring path = ToWide(imagePath);
    std::wstring prefix = ToWide(kMachinePrefix);
    if (path.size() <= prefix.size() || !EqualIgnoringCase(path.substr(0, prefix.size()), prefix)) return std::wstring();
    return path.substr(prefix.size());
}

bool ReadRegistryTree(const std::wstring& path, std::vector<RegFileKey>& keys) { return ReadTree(path, 0, keys); }

TreeWrite WriteRegistryTrees(const std::vector<RegFileKey>& keys, const std::vector<std::wstring>& roots) {
    std::vector<std::wstring> created;
    auto undo = [&created](TreeWrite outcome) {
        for (const std::wstring& root : created) DeleteRegistryTree(root);
        return outcome;
    };
    for (const RegFileKey& image : keys) {
        std::wstring path = MachineRelativePath(image.path);
        if (path.empty()) {
            TW_LOG(LogLevel::Error, "A saved key outside HKEY_LOCAL_MACHINE: %S", ToWide(image.path).c_str());
            return undo(TreeWrite::Failed);
        }
        bool isRoot = false, underCreatedRoot = false;
        for (const std::wstring& root : roots)
            if (EqualIgnoringCase(root, path)) isRoot = true;
        for (const std::wstring& root : created)
            if (LiesUnder(path, root)) underCreatedRoot = true;
        // A subkey is only ever made below a key this call made, never into a tree that was there.
        if (!isRoot && !underCreatedRoot) {
            TW_LOG(LogLevel::Error, "Saved key %S lies under no restored key", path.c_str());
            return undo(TreeWrite::Failed);
        }
        RegistryKey key;
        DWORD disposition = 0;
        LONG result = key.Create(HKEY_LOCAL_MACHINE, path, KEY_SET_VALUE, &disposition);
        if (result != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "RegCreateKeyExW(%S) Error=%d", path.c_str(), (int)result);
            return undo(TreeWrite::Failed);
        }
        if (isRoot && disposition != REG_CREATED_NEW_KEY) {
            TW_LOG(LogLevel::Warning, "Key %S exists; nothing restored", path.c_str());
            return undo(TreeWrite::KeyExists);
        }
        if (isRoot) created.push_back(path);
        for (const RegFileValue& value : image.values) {
            result = WriteValue(key.Get(), value);
            if (result != ERROR_SUCCESS) {
                TW_LOG(LogLevel::Error, "RegSetValueExW(%S, %S) Error=%d", path.c_str(), ToWide(value.name).c_str(),
                       (int)result);
                return undo(TreeWrite::Failed);
            }
        }
        TW_LOG(LogLevel::Info, "Restored key %S", path.c_str());
    }
    return TreeWrite::Written;
}

