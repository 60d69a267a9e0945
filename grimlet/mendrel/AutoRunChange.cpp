#include "grimlet/mendrel/AutoRunChange.h"

#include <windows.h>

#include "grimlet/common/RegistryLink.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"
#include "platform/system/UtcTime.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const wchar_t kMachinePrefix[] = L"HKEY_LOCAL_MACHINE\\";
const wchar_t kEntryName[] = L"AutoRun";
const wchar_t kQuarantined[] = L"quarantined";

std::u16string Utf16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

// HKEY_LOCAL_MACHINE\`path` opened one name at a time in the native view, never through a registry
// link: nothing on the way to these two keys is a link on a sound system, so one is somebody's trap
// (kStoppedOnLink). With `create`, a missing last key is made; `created` tells.
LONG OpenPlain(const std::wstring& path, REGSAM access, bool create, RegistryKey& key, bool* created = nullptr) {
    const REGSAM view = AutoRun::NativeView();
    if (created) *created = false;
    RegistryKey parent;
    HKEY at = HKEY_LOCAL_MACHINE;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(L'\\', start);
        const std::wstring name = path.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
        const bool last = slash == std::wstring::npos;
        RegistryKey step;
        LONG result = RegOpenKeyExW(at, name.c_str(), REG_OPTION_OPEN_LINK,
                                    (last ? access : 0) | KEY_QUERY_VALUE | view, step.Receive());
        if (result == ERROR_FILE_NOT_FOUND && last && create) {
            DWORD disposition = 0;
            result = RegCreateKeyExW(at, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     access | KEY_QUERY_VALUE | view, nullptr, step.Receive(), &disposition);
            if (created) *created = result == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
        }
        if (result != ERROR_SUCCESS) return result;
        if (RegistryLink::KindOf(step.Get()) != RegistryLink::Kind::Plain) {
            TW_LOG(LogLevel::Error, "HKEY_LOCAL_MACHINE\\%S: %S is a registry link or cannot be asked; not followed",
                   path.c_str(), name.c_str());
            return RegistryLink::kStoppedOnLink;
        }
        if (last) {
            key = std::move(step);
            return ERROR_SUCCESS;
        }
        parent = std::move(step);
        at = parent.Get();
        start = slash + 1;
    }
}

LONG ReadValue(HKEY key, const wchar_t* name, RegistryValueFacts& value) {
    value = RegistryValueFacts();
    std::vector<BYTE> data(4096);
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(data.size());
    const LONG result = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    if (result == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;
    value.present = true;
    value.type = type;
    value.data.assign(data.begin(), data.begin() + size);
    return ERROR_SUCCESS;
}

// One key and its one value as they are now.
LONG ReadOne(const wchar_t* path, const wchar_t* name, bool& keyPresent, RegistryValueFacts& value) {
    value = RegistryValueFacts();
    RegistryKey key;
    const LONG result = OpenPlain(path, KEY_QUERY_VALUE, false, key);
    keyPresent = result == ERROR_SUCCESS;
    if (result == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;
    return ReadValue(key.Get(), name, value);
}

LONG ReadSnapshot(AutoRunSnapshot& snapshot) {
    LONG result = ReadOne(AutoRun::kMappingKey, nullptr, snapshot.mappingKey, snapshot.mapping);
    if (result != ERROR_SUCCESS) return result;
    return ReadOne(AutoRun::kPolicyKey, AutoRun::kPolicyValue, snapshot.policyKey, snapshot.noDriveType);
}

// Makes one key and value what `keyPresent` and `value` say. A key that should be absent loses the
// value and then goes itself, but only while nothing else has come to live in it.
LONG ApplyOne(const wchar_t* path, const wchar_t* name, bool keyPresent, const RegistryValueFacts& value) {
    RegistryKey key;
    LONG result = OpenPlain(path, KEY_SET_VALUE | DELETE, keyPresent, key);
    if (!keyPresent && result == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;
    if (value.present) {
        result = RegSetValueExW(key.Get(), name, 0, value.type, value.data.empty() ? nullptr : value.data.data(),
                                static_cast<DWORD>(value.data.size()));
    } else {
        result = RegDeleteValueW(key.Get(), name);
        if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
    }
    if (result != ERROR_SUCCESS || keyPresent) return result;
    DWORD subkeys = 0, values = 0;
    result = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) return result;
    if (subkeys != 0 || values != 0) {
        TW_LOG(LogLevel::Warning, "HKEY_LOCAL_MACHINE\\%S did not exist before but holds more now; it stays", path);
        return ERROR_SUCCESS;
    }
    return RegistryLink::DeleteOpenKey(key.Get());
}

LONG Apply(const AutoRunSnapshot& target) {
    LONG result = ApplyOne(AutoRun::kMappingKey, nullptr, target.mappingKey, target.mapping);
    if (result != ERROR_SUCCESS) return result;
    return ApplyOne(AutoRun::kPolicyKey, AutoRun::kPolicyValue, target.policyKey, target.noDriveType);
}

void LogSnapshot(const char* what, const AutoRunSnapshot& snapshot) {
    const std::vector<std::wstring> values = AutoRun::Describe(snapshot.Facts());
    TW_LOG(LogLevel::Info, "AutoRun %s: %S; %S", what, values[0].c_str(), values[1].c_str());
}

RegFileKey SavedKey(const wchar_t* path, const wchar_t* name, bool keyPresent, const RegistryValueFacts& value) {
    RegFileKey key;
    key.path = Utf16(std::wstring(kMachinePrefix) + path);
    key.absent = !keyPresent;
    if (!keyPresent) return key;
    RegFileValue saved;
    saved.name = Utf16(name);
    saved.absent = !value.present;
    saved.type = value.type;
    saved.data.assign(value.data.begin(), value.data.end());
    key.values.push_back(saved);
    return key;
}

bool FromSaved(const RegFileKey& key, const wchar_t* path, const wchar_t* name, bool& keyPresent,
               RegistryValueFacts& value) {
    value = RegistryValueFacts();
    if (key.path != Utf16(std::wstring(kMachinePrefix) + path)) return false;
    keyPresent = !key.absent;
    if (key.absent) return key.values.empty();
    if (key.values.size() != 1 || key.values[0].name != Utf16(name)) return false;
    const RegFileValue& saved = key.values[0];
    value.present = !saved.absent;
    if (value.present) {
        value.type = saved.type;
        value.data.assign(saved.data.begin(), saved.data.end());
    }
    return true;
}

int WriteFailed(LONG result, int otherwise) {
    return result == RegistryLink::kStoppedOnLink ? MendrelExitCode::AutoRunRefused : otherwise;
}

}  // namespace

AutoRunFacts AutoRunSnapshot::Facts() const {
    AutoRunFacts facts;
    facts.readable = true;
    facts.mapping = mapping;
    facts.noDriveType = noDriveType;
    return facts;
}

namespace AutoRunChange {

AutoRunSnapshot TurnedOff() {
    AutoRunSnapshot off;
    off.mappingKey = off.policyKey = true;
    off.mapping = AutoRun::OffMapping();
    off.noDriveType = AutoRun::OffNoDriveType();
    return off;
}

std::vector<RegFileKey> SavedKeys(const AutoRunSnapshot& snapshot) {
    return {SavedKey(AutoRun::kMappingKey, L"", snapshot.mappingKey, snapshot.mapping),
            SavedKey(AutoRun::kPolicyKey, AutoRun::kPolicyValue, snapshot.policyKey, snapshot.noDriveType)};
}

bool SnapshotOf(const std::vector<RegFileKey>& keys, AutoRunSnapshot& snapshot) {
    return keys.size() == 2 &&
           FromSaved(keys[0], AutoRun::kMappingKey, L"", snapshot.mappingKey, snapshot.mapping) &&
           FromSaved(keys[1], AutoRun::kPolicyKey, AutoRun::kPolicyValue, snapshot.policyKey, snapshot.noDriveType);
}

std::string IdOf(const std::vector<RegFileKey>& keys) {
    std::u16string text;
    std::string problem;
    if (!RegFile::Format(keys, text, problem)) return std::string();
    const std::vector<uint8_t> bytes = RegFile::Encode(text);
    FileDigest digest(false, true);
    digest.Update(bytes.data(), bytes.size());
    return digest.FinishSha1Hex();
}

int TurnOff(QuarantineStore& store) {
    TW_LOG_SCOPE("AutoRunChange::TurnOff()");
    AutoRunSnapshot found;
    LONG result = ReadSnapshot(found);
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "The AutoRun values cannot be read (%d); nothing changed", (int)result);
        return WriteFailed(result, MendrelExitCode::AutoRunFailed);
    }
    LogSnapshot("found", found);
    if (AutoRun::IsOff(found.Facts())) return MendrelExitCode::Removed;
    if (!store.Prepare()) return MendrelExitCode::QuarantineFailed;

    // Kept first: the saved file, then the manifest line that names it.
    const std::vector<RegFileKey> keys = SavedKeys(found);
    QuarantineEntry entry;
    entry.sha1 = IdOf(keys);
    if (entry.sha1.empty() || !store.SaveKeys(keys, std::wstring(entry.sha1.begin(), entry.sha1.end()), entry.keysName))
        return MendrelExitCode::QuarantineFailed;
    entry.kind = kQuarantineKindAutoRun;
    entry.originalPath = kEntryName;
    entry.state = kQuarantined;
    entry.time = entry.removedAt = IsoUtcNow();
    if (!store.Record(entry)) {
        store.DiscardKeys(entry.keysName);
        return MendrelExitCode::QuarantineFailed;
    }
    auto undone = [&](int code) {
        entry.state = L"undone";
        entry.time = IsoUtcNow();
        store.Record(entry);
        return code;
    };

    // What is changed is what was saved: anything else found now is somebody else's, and stays.
    AutoRunSnapshot now;
    result = ReadSnapshot(now);
    if (result != ERROR_SUCCESS || now != found) {
        TW_LOG(LogLevel::Error, "The AutoRun values changed while they were saved (%d); nothing changed", (int)result);
        return undone(MendrelExitCode::AutoRunRefused);
    }
    result = Apply(TurnedOff());
    if (result != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "Turning AutoRun off failed (%d); the values found are put back", (int)result);
        const LONG back = Apply(found);
        if (back != ERROR_SUCCESS) TW_LOG(LogLevel::Error, "Putting them back failed too (%d)", (int)back);
        return undone(WriteFailed(result, MendrelExitCode::AutoRunFailed));
    }
    TW_LOG(LogLevel::Info, "AutoRun turned off; the values found are kept as %S", entry.keysName.c_str());
    return MendrelExitCode::Removed;
}

int Restore(QuarantineStore& store, const QuarantineEntry& entry) {
    TW_LOG_SCOPE("AutoRunChange::Restore()");
    std::vector<RegFileKey> keys;
    AutoRunSnapshot saved;
    if (entry.keysName.empty() || !store.LoadKeys(entry.keysName, keys, true) || IdOf(keys) != entry.sha1 ||
        !SnapshotOf(keys, saved)) {
        TW_LOG(LogLevel::Error, "%S is not the AutoRun values saved as %s; nothing restored", entry.keysName.c_str(),
               entry.sha1.c_str());
        return MendrelExitCode::QuarantineUnreadable;
    }
    AutoRunSnapshot now;
    const LONG read = ReadSnapshot(now);
    if (read != ERROR_SUCCESS || now != TurnedOff()) {
        TW_LOG(LogLevel::Warning, "The AutoRun values are no longer the ones written when it was turned off (%d); "
                                  "nothing restored", (int)read);
        return MendrelExitCode::RestoreRefused;
    }
    LONG result = Apply(saved);
    QuarantineEntry restored = entry;
    restored.state = L"restored";
    restored.time = IsoUtcNow();
    if (result == ERROR_SUCCESS && store.Record(restored)) {
        LogSnapshot("restored", saved);
        return MendrelExitCode::Restored;
    }
    TW_LOG(LogLevel::Error, "Restoring the AutoRun values failed (%d); AutoRun stays off", (int)result);
    Apply(now);
    return MendrelExitCode::RestoreFailed;
}

}  // namespace AutoRunChange
