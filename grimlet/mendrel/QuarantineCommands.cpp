#include "grimlet/mendrel/QuarantineCommands.h"

#include <windows.h>

#include "grimlet/common/FileSystemRedirectionGuard.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/mendrel/NetsvcsGroupList.h"
#include "grimlet/mendrel/RegistryTreeCopy.h"
#include "grimlet/mendrel/RegistryTreeDeleter.h"
#include "platform/log/Logger.h"
#include "platform/system/OrdinalName.h"
#include "platform/system/UtcTime.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\Services\\";
const wchar_t kQuarantined[] = L"quarantined";
// What SetFileAttributesW takes; the others (compressed, encrypted, sparse...) are not the file's to set.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_TEMPORARY;

enum class PathState { Free, Taken, FolderMissing };

PathState StateOfPath(const std::wstring& path) {
    FileSystemRedirectionGuard redirection;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return PathState::Taken;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return PathState::Free;
    return error == ERROR_PATH_NOT_FOUND ? PathState::FolderMissing : PathState::Taken;
}

bool KeyExists(const std::wstring& path) {
    RegistryKey key;
    return key.Open(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE) != ERROR_FILE_NOT_FOUND;
}

void DeletePlacedFile(const std::wstring& path) {
    FileSystemRedirectionGuard redirection;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str())) TW_LOG(LogLevel::Error, "DeleteFileW(%S) Error=%d", path.c_str(), (int)GetLastError());
}

// Everything a restore has put in place so far, taken back again unless the restore completes: a
// restore either happens whole or leaves the system as it found it.
class RestoreSteps {
public:
    RestoreSteps() = default;
    ~RestoreSteps() {
        if (completed_) return;
        for (const std::wstring& name : addedNames_) NetsvcsGroupList::Remove(name);
        for (const std::wstring& root : keyRoots_) DeleteRegistryTree(root);
        for (const std::wstring& file : files_) DeletePlacedFile(file);
    }
    RestoreSteps(const RestoreSteps&) = delete;
    RestoreSteps& operator=(const RestoreSteps&) = delete;

    void FilePlaced(const std::wstring& path) { files_.push_back(path); }
    void FileMoved(const std::wstring& from, const std::wstring& to) {
        for (std::wstring& file : files_)
            if (file == from) file = to;
    }
    void KeysWritten(const std::vector<std::wstring>& roots) { keyRoots_ = roots; }
    void NameAdded(const std::wstring& name) { addedNames_.push_back(name); }
    void Complete() { completed_ = true; }

private:
    std::vector<std::wstring> files_;
    std::vector<std::wstring> keyRoots_;
    std::vector<std::wstring> addedNames_;
    bool completed_ = false;
};

bool IsListed(const std::wstring& name) {
    for (const std::wstring& item : NetsvcsGroupList::Read())
        if (EqualIgnoringCase(item, name)) return true;
    return false;
}

}  // namespace

namespace QuarantineCommands {

bool SavedServiceNames(const std::vector<RegFileKey>& keys, std::vector<std::wstring>& names, std::string& problem) {
    names.clear();
    std::vector<std::wstring> seen;
    const std::wstring services = kServicesPath;
    for (const RegFileKey& key : keys) {
        std::wstring path = MachineRelativePath(key.path);
        if (path.size() <= services.size() || !EqualIgnoringCase(path.substr(0, services.size()), services)) {
            problem = "a saved key outside HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";
            return false;
        }
        std::size_t lastSlash = path.rfind(L'\\');
        if (lastSlash < services.size()) {
            names.push_back(path.substr(services.size()));
        } else {
            bool parentSaved = false;
            for (const std::wstring& earlier : seen)
                if (EqualIgnoringCase(earlier, path.substr(0, lastSlash))) parentSaved = true;
            if (!parentSaved) {
                problem = "a saved subkey before or without its parent";
                return false;
            }
        }
        seen.push_back(path);
    }
    if (names.empty()) problem = "no saved service key";
    return !names.empty();
}

int List(const QuarantineStore& store, std::vector<std::wstring>& lines) {
    std::vector<QuarantineEntry> entries;
    if (!store.ReadEntries(entries)) return MendrelExitCode::QuarantineUnreadable;
    lines.clear();
    for (const QuarantineEntry& entry : entries) {
        std::wstring sha1 = entry.sha1.empty() ? L"-" : std::wstring(entry.sha1.begin(), entry.sha1.end());
        lines.push_back(sha1 + L"\t" + entry.originalPath + L"\t" + (entry.services.empty() ? L"-" : entry.services) +
                        L"\t" + entry.removedAt + L"\t" + entry.state);
    }
    return MendrelExitCode::Listed;
}

int Restore(QuarantineStore& store, const std::string& sha1) {
    TW_LOG_SCOPE("QuarantineCommands::Restore()");
    std::vector<QuarantineEntry> entries;
    if (!store.ReadEntries(entries)) return MendrelExitCode::QuarantineUnreadable;
    const QuarantineEntry* newest = nullptr;
    bool known = false;
    for (const QuarantineEntry& candidate : entries) {
        if (candidate.sha1 != sha1) continue;
        known = true;
        if (candidate.state == kQuarantined) newest = &candidate;
    }
    if (!newest) {
        TW_LOG(LogLevel::Warning, "%s: %s", sha1.c_str(), known ? "restored already" : "not in quarantine");
        return MendrelExitCode::NotQuarantined;
    }
    QuarantineEntry entry = *newest;
    std::vector<RegFileKey> keys;
    std::vector<std::wstring> names;
    std::string problem;
    if (entry.copyName.empty() || entry.keysName.empty() || !store.LoadKeys(entry.keysName, keys))
        return MendrelExitCode::QuarantineUnreadable;
    if (!SavedServiceNames(keys, names, problem)) {
        TW_LOG(LogLevel::Error, "%S: %s", entry.keysName.c_str(), problem.c_str());
        return MendrelExitCode::QuarantineUnreadable;
    }

    PathState target = StateOfPath(entry.originalPath);
    if (target == PathState::Taken) {
        TW_LOG(LogLevel::Warning, "%S is taken; nothing restored", entry.originalPath.c_str());
        return MendrelExitCode::RestoreRefused;
    }
    if (target == PathState::FolderMissing) {
        TW_LOG(LogLevel::Error, "The folder of %S is gone; nothing restored", entry.originalPath.c_str());
        return MendrelExitCode::RestoreFailed;
    }
    std::vector<std::wstring> roots;
    for (const std::wstring& name : names) {
        roots.push_back(kServicesPath + name);
        if (KeyExists(roots.back())) {
            TW_LOG(LogLevel::Warning, "Key %S exists; nothing restored", roots.back().c_str());
            return MendrelExitCode::RestoreRefused;
        }
    }

    RestoreSteps steps;
    // The copy goes in beside its place under a name of its own, so that the file appears whole or not
    // at all, and only once the keys are back.
    std::wstring pending = entry.originalPath + L"." + std::to_wstring(GetCurrentProcessId()) + L".restoring";
    switch (store.CopyOut(entry, pending)) {
    case QuarantineStore::CopyOutcome::Copied:
        break;
    case QuarantineStore::CopyOutcome::Damaged:
        return MendrelExitCode::QuarantineUnreadable;
    default:
        return MendrelExitCode::RestoreFailed;
    }
    steps.FilePlaced(pending);
    DWORD attributes = entry.attributes & kSettableAttributes;
    {
        FileSystemRedirectionGuard redirection;
        if (!SetFileAttributesW(pending.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL)) {
            TW_LOG(LogLevel::Error, "SetFileAttributesW(%S) Error=%d", pending.c_str(), (int)GetLastError());
            return MendrelExitCode::RestoreFailed;
        }
    }

    TreeWrite written = WriteRegistryTrees(keys, roots);
    if (written != TreeWrite::Written)
        return written == TreeWrite::KeyExists ? MendrelExitCode::RestoreRefused : MendrelExitCode::RestoreFailed;
    steps.KeysWritten(roots);

    BOOL moved;
    DWORD moveError;
    {
        FileSystemRedirectionGuard redirection;
        moved = MoveFileExW(pending.c_str(), entry.originalPath.c_str(), MOVEFILE_WRITE_THROUGH);
        moveError = GetLastError();
    }
    if (!moved) {
        TW_LOG(LogLevel::Error, "MoveFileExW(%S) Error=%d", entry.originalPath.c_str(), (int)moveError);
        return moveError == ERROR_ALREADY_EXISTS || moveError == ERROR_FILE_EXISTS ? MendrelExitCode::RestoreRefused
                                                                                   : MendrelExitCode::RestoreFailed;
    }
    steps.FileMoved(pending, entry.originalPath);

    for (const std::wstring& name : names) {
        if (IsListed(name)) continue;
        if (!NetsvcsGroupList::Add(name)) return MendrelExitCode::RestoreFailed;
        steps.NameAdded(name);
    }

    entry.state = L"restored";
    entry.time = IsoUtcNow();
    if (!store.Record(entry)) return MendrelExitCode::RestoreFailed;
    steps.Complete();
    TW_LOG(LogLevel::Info, "Restored %S and the key(s) of %S; the service manager sees them after the next restart",
           entry.originalPath.c_str(), entry.services.c_str());
    return MendrelExitCode::Restored;
}

}  // namespace QuarantineCommands
