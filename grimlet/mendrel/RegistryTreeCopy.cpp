#include "grimlet/mendrel/RegistryTreeCopy.h"

#include <memory>
#include <new>

#include "grimlet/common/RegistryLink.h"
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
// A service's keys hold a few kilobytes. The worm may make them as large as the registry allows, so a
// save holds at most this much, which also keeps the regedit file within what a restore reads back.
constexpr std::size_t kMaxSavedBytes = 1u << 20;
constexpr std::size_t kMaxSavedKeys = 2000;

// wchar_t is a UTF-16 code unit on Windows: the texts convert unit by unit.
std::u16string ToU16(const wchar_t* text, std::size_t length) { return std::u16string(text, text + length); }
std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// One save of a tree. Strict, it stops at the first thing it cannot hold; otherwise it goes on and
// notes each gap, so that what the worm made unsavable cannot stop its removal.
class TreeSaver {
public:
    TreeSaver(std::vector<RegFileKey>& keys, std::vector<std::wstring>* gaps) : keys_(keys), gaps_(gaps) {}

    bool Save(const std::wstring& path, int depth) {
        if (depth > kMaxDepth) return Gap(L"too deep: " + path);
        if (keys_.size() >= kMaxSavedKeys) return Gap(L"too many keys: " + path);
        std::unique_ptr<RegKeyUnlocker> unlocker;
        RegistryKey key;
        LONG result = OpenKeyUnlockingIfDenied(path, kReadAccess, key, unlocker);
        if (result != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) for saving Error=%d", path.c_str(), (int)result);
            return Gap(L"not opened (" + std::to_wstring(result) + L"): " + path);
        }
        std::wstring target;
        RegistryLink::Kind kind = RegistryLink::KindOf(key.Get(), &target);
        if (kind == RegistryLink::Kind::Link) return Gap(L"registry link: " + path + L" -> " + target);
        if (kind == RegistryLink::Kind::Unknown) return Gap(L"not told from a link: " + path);
        RegFileKey image;
        image.path = kMachinePrefix + ToU16(path.c_str(), path.size());
        bool whole = ReadValues(key.Get(), path, image.values);
        if (!whole && !gaps_) return false;
        keys_.push_back(std::move(image));
        std::vector<std::wstring> children;
        if (!TakeSubkeyNames(key, path, children)) return Gap(L"subkeys not listed: " + path);
        for (const std::wstring& child : children)
            if (child == L"." || child == L".." || child.find(L'\0') != std::wstring::npos) {
                whole = Gap(L"a name a saved file cannot hold, below " + path);
                if (!gaps_) return false;
            } else if (!Save(path + L"\\" + child, depth + 1)) {
                if (!gaps_) return false;
                whole = false;
            }
        return whole;
    }

private:
    bool Gap(const std::wstring& what) {
        TW_LOG(LogLevel::Warning, "Not saved: %S", what.c_str());
        if (gaps_) gaps_->push_back(what);
        return false;
    }

    bool ReadValues(HKEY key, const std::wstring& path, std::vector<RegFileValue>& values) {
        std::vector<wchar_t> name(kMaxValueNameChars + 1);
        std::vector<BYTE> data;
        bool whole = true;
        for (DWORD index = 0, attempts = 0;;) {
            // The size first, so that a value too large for the save is never read into memory.
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD dataSize = 0;
            DWORD type = REG_NONE;
            LONG result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, nullptr, &dataSize);
            if (result == ERROR_NO_MORE_ITEMS) return whole;
            if (result != ERROR_SUCCESS) {
                TW_LOG(LogLevel::Error, "RegEnumValueW(%S, %d) Error=%d", path.c_str(), (int)index, (int)result);
                return Gap(L"values not listed: " + path);
            }
            std::wstring valueName(name.data(), nameLength);
            if (dataSize > bytesLeft_) {
                whole = Gap(L"value too large: " + path + L" \"" + valueName + L"\"");
                if (!gaps_) return false;
                ++index;
                continue;
            }
            data.resize(dataSize + 2);
            DWORD got = static_cast<DWORD>(data.size());
            nameLength = static_cast<DWORD>(name.size());
            result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &got);
            // A value that changed between the two calls is read again, a few times at most.
            if (result == ERROR_MORE_DATA && ++attempts < 4) continue;
            if (result != ERROR_SUCCESS) {
                whole = Gap(L"value not read: " + path + L" \"" + valueName + L"\"");
                if (!gaps_) return false;
            } else {
                RegFileValue value;
                value.name = ToU16(name.data(), nameLength);
                value.type = type;
                value.data.assign(data.begin(), data.begin() + got);
                bytesLeft_ -= got;
                values.push_back(std::move(value));
            }
            attempts = 0;
            ++index;
        }
    }

    std::vector<RegFileKey>& keys_;
    std::vector<std::wstring>* gaps_;
    std::size_t bytesLeft_ = kMaxSavedBytes;
};

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

bool ReadRegistryTree(const std::wstring& path, std::vector<RegFileKey>& keys, std::vector<std::wstring>* gaps) {
    try {
        return TreeSaver(keys, gaps).Save(path, 0);
    } catch (const std::bad_alloc&) {
        TW_LOG(LogLevel::Error, "Out of memory while saving %S", path.c_str());
        if (gaps) gaps->push_back(L"out of memory: " + path);
        return false;
    }
}

TreeWrite WriteRegistryTrees(const std::vector<RegFileKey>& keys, const std::vector<std::wstring>& roots) {
    std::vector<std::wstring> createdRoots;
    // Every key this call made, still open: a subkey is made through its parent's handle, so no name on
    // the way is looked up again (and no link planted meanwhile is followed).
    std::vector<std::pair<std::wstring, RegistryKey>> made;
    auto undo = [&](TreeWrite outcome) {
        made.clear();
        for (const std::wstring& root : createdRoots) DeleteRegistryTree(root);
        return outcome;
    };
    for (const RegFileKey& image : keys) {
        std::wstring path = MachineRelativePath(image.path);
        if (path.empty()) {
            TW_LOG(LogLevel::Error, "A saved key outside HKEY_LOCAL_MACHINE: %S", ToWide(image.path).c_str());
            return undo(TreeWrite::Failed);
        }
        bool isRoot = false;
        for (const std::wstring& root : roots)
            if (EqualIgnoringCase(root, path)) isRoot = true;
        HKEY parent = HKEY_LOCAL_MACHINE;
        std::wstring name = path;
        if (!isRoot) {
            // A subkey is only ever made below a key this call made, never into a tree that was there.
            std::size_t slash = path.rfind(L'\\');
            parent = nullptr;
            for (const auto& key : made)
                if (slash != std::wstring::npos && EqualIgnoringCase(key.first, path.substr(0, slash)))
                    parent = key.second.Get();
            if (!parent) {
                TW_LOG(LogLevel::Error, "Saved key %S lies under no restored key", path.c_str());
                return undo(TreeWrite::Failed);
            }
            name = path.substr(slash + 1);
        }
        RegistryKey key;
        DWORD disposition = 0;
        LONG result = key.Create(parent, name, KEY_SET_VALUE, &disposition);
        if (result != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "RegCreateKeyExW(%S) Error=%d", path.c_str(), (int)result);
            return undo(TreeWrite::Failed);
        }
        if (disposition != REG_CREATED_NEW_KEY) {
            TW_LOG(LogLevel::Warning, "Key %S exists; nothing restored", path.c_str());
            return undo(isRoot ? TreeWrite::KeyExists : TreeWrite::Failed);
        }
        if (isRoot) createdRoots.push_back(path);
        for (const RegFileValue& value : image.values) {
            result = WriteValue(key.Get(), value);
            if (result != ERROR_SUCCESS) {
                TW_LOG(LogLevel::Error, "RegSetValueExW(%S, %S) Error=%d", path.c_str(), ToWide(value.name).c_str(),
                       (int)result);
                return undo(TreeWrite::Failed);
            }
        }
        made.emplace_back(path, std::move(key));
        TW_LOG(LogLevel::Info, "Restored key %S", path.c_str());
    }
    return TreeWrite::Written;
}
