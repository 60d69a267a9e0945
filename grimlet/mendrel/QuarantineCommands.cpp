#include "grimlet/mendrel/QuarantineCommands.h"

#include <windows.h>

#include <new>

#include "platform/system/FileSystemRedirectionGuard.h"
#include "grimlet/common/RegistryLink.h"
#include "grimlet/common/RegistryValue.h"
#include "grimlet/mendrel/AutoRunChange.h"
#include "grimlet/mendrel/DriveCopyRemoval.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "grimlet/common/NetsvcsGroupList.h"
#include "grimlet/mendrel/NetsvcsServiceFinder.h"
#include "grimlet/mendrel/RegistryTreeCopy.h"
#include "grimlet/mendrel/RegistryTreeDeleter.h"
#include "grimlet/mendrel/TaskRemoval.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"
#include "platform/system/OrdinalName.h"
#include "platform/system/UtcTime.h"
#include "platform/win32/RegistryKey.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\Services\\";
const wchar_t kQuarantined[] = L"quarantined";
const wchar_t kRestoring[] = L"restoring";
// What SetFileAttributesW takes; the others (compressed, encrypted, sparse...) are not the file's to set.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_TEMPORARY;

// The long-path form: every path a removal accepted (up to MAX_PATH), with the short temporary name
// beside it, can be written back.
std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

// "X:\..." on a local fixed drive, each name a plain one: the only kind of path a restore writes to.
bool IsLocalFixedPath(const std::wstring& path) {
    const wchar_t drive = static_cast<wchar_t>(path.empty() ? 0 : (path[0] | 0x20));
    if (path.size() < 4 || path.size() >= MAX_PATH || drive < L'a' || drive > L'z' || path[1] != L':' ||
        path[2] != L'\\')
        return false;
    std::size_t start = 3;
    for (;;) {
        std::size_t slash = path.find(L'\\', start);
        std::wstring name = path.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
        if (name.empty() || name == L"." || name == L".." || name.back() == L'.' || name.back() == L' ' ||
            name.find_first_of(L"/:*?\"<>|") != std::wstring::npos)
            return false;
        for (wchar_t c : name)
            if (c < 32) return false;
        if (slash == std::wstring::npos) break;
        start = slash + 1;
    }
    const wchar_t root[] = {path[0], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_FIXED;
}

// The expanded ServiceDll of a saved service key; empty when the save holds none.
std::wstring SavedServiceDll(const std::vector<RegFileKey>& keys, const std::wstring& serviceRoot) {
    const std::wstring parameters = serviceRoot + L"\\Parameters";
    for (const RegFileKey& key : keys) {
        if (!EqualIgnoringCase(MachineRelativePath(key.path), parameters)) continue;
        for (const RegFileValue& value : key.values) {
            if (!EqualIgnoringCase(std::wstring(value.name.begin(), value.name.end()), L"ServiceDll") ||
                (value.type != REG_SZ && value.type != REG_EXPAND_SZ))
                continue;
            std::wstring raw;
            for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
                wchar_t c = static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
                if (c == L'\0') break;
                raw.push_back(c);
            }
            std::wstring expanded;
            return ExpandServicePath(raw, expanded) ? expanded : std::wstring();
        }
    }
    return std::wstring();
}

std::vector<std::wstring> SplitServices(const std::wstring& text) {
    std::vector<std::wstring> names;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t comma = text.find(L", ", start);
        names.push_back(text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start));
        if (comma == std::wstring::npos) break;
        start = comma + 2;
    }
    return names;
}

bool SameNames(std::vector<std::wstring> left, std::vector<std::wstring> right) {
    if (left.size() != right.size()) return false;
    for (const std::wstring& name : left) {
        bool found = false;
        for (std::wstring& other : right)
            if (!found && EqualIgnoringCase(name, other)) {
                other.clear();
                found = true;
            }
        if (!found) return false;
    }
    return true;
}

enum class Presence { Absent, Ours, Foreign };

// The saved keys of one service: its key and everything below it.
std::vector<RegFileKey> KeysOf(const std::vector<RegFileKey>& keys, const std::wstring& root) {
    std::vector<RegFileKey> tree;
    const std::wstring image = L"HKEY_LOCAL_MACHINE\\" + root;
    for (const RegFileKey& key : keys) {
        std::wstring path(key.path.begin(), key.path.end());
        if (EqualIgnoringCase(path, image) || (path.size() > image.size() && path[image.size()] == L'\\' &&
                                               EqualIgnoringCase(path.substr(0, image.size()), image)))
            tree.push_back(key);
    }
    return tree;
}

// Whether a file at `path` (long form) is there, and if so whether it holds exactly the quarantined
// bytes: positive evidence that an earlier, interrupted restore put it there.
Presence FileAt(const std::wstring& path, const QuarantineEntry& entry) {
    FileSystemRedirectionGuard redirection;
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid()) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? Presence::Absent : Presence::Foreign;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return Presence::Foreign;
    FileDigest hash(false, true);
    uint64_t size = 0;
    std::vector<char> buffer(64 * 1024);
    for (DWORD got = 0; ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got;) {
        hash.Update(buffer.data(), got);
        size += got;
    }
    return size == entry.size && hash.FinishSha1Hex() == entry.sha1 ? Presence::Ours : Presence::Foreign;
}

// Whether a service key is there, and if so (when `compare`) whether it is exactly the saved tree of
// that service. Without `compare` a key that is there is never read.
Presence KeyAt(const std::wstring& root, const std::vector<RegFileKey>& keys, bool compare) {
    RegistryKey key;
    if (RegistryLink::OpenMachineKey(root, KEY_QUERY_VALUE, key) == ERROR_FILE_NOT_FOUND) return Presence::Absent;
    key.Close();
    if (!compare) return Presence::Foreign;
    std::vector<RegFileKey> present;
    if (!ReadRegistryTree(root, present)) return Presence::Foreign;
    return present == KeysOf(keys, root) ? Presence::Ours : Presence::Foreign;
}

void DeletePlacedFile(const std::wstring& path) {
    FileSystemRedirectionGuard redirection;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str())) TW_LOG(LogLevel::Error, "DeleteFileW(%S) Error=%d", path.c_str(), (int)GetLastError());
}

// Everything this run of a restore has put in place, taken back again unless the restore completes or
// is interrupted on purpose (a test standing in for a crash).
class RestoreSteps {
public:
    RestoreSteps() = default;
    ~RestoreSteps() {
        if (kept_) return;
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
    void Keep() { kept_ = true; }
    bool Undoes() const { return !kept_ && (!files_.empty() || !keyRoots_.empty() || !addedNames_.empty()); }

private:
    std::vector<std::wstring> files_;
    std::vector<std::wstring> keyRoots_;
    std::vector<std::wstring> addedNames_;
    bool kept_ = false;
};

bool IsListed(const std::wstring& name) {
    for (const std::wstring& item : NetsvcsGroupList::Read())
        if (EqualIgnoringCase(item, name)) return true;
    return false;
}

int RestoreChecked(QuarantineStore& store, const std::string& sha1, QuarantineCommands::RestoreCrashPoint crashAfter);

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

int List(QuarantineStore& store, std::vector<std::wstring>& lines) {
    if (!store.Prepare()) return MendrelExitCode::QuarantineFolderRefused;
    std::vector<QuarantineEntry> entries;
    try {
        if (!store.ReadEntries(entries)) return MendrelExitCode::QuarantineUnreadable;
    } catch (const std::bad_alloc&) {
        TW_LOG(LogLevel::Error, "Out of memory while reading the manifest");
        return MendrelExitCode::QuarantineUnreadable;
    }
    lines.clear();
    for (const QuarantineEntry& entry : entries) {
        std::wstring sha1 = entry.sha1.empty() ? L"-" : std::wstring(entry.sha1.begin(), entry.sha1.end());
        lines.push_back(sha1 + L"\t" + entry.originalPath + L"\t" + (entry.services.empty() ? L"-" : entry.services) +
                        L"\t" + entry.removedAt + L"\t" + entry.state);
    }
    return MendrelExitCode::Listed;
}

int Restore(QuarantineStore& store, const std::string& sha1, RestoreCrashPoint crashAfter) {
    TW_LOG_SCOPE("QuarantineCommands::Restore()");
    if (!store.Prepare()) return MendrelExitCode::QuarantineFolderRefused;
    try {
        return RestoreChecked(store, sha1, crashAfter);
    } catch (const std::bad_alloc&) {
        TW_LOG(LogLevel::Error, "Out of memory; what this restore wrote is undone");
        return MendrelExitCode::RestoreFailed;
    }
}

}  // namespace QuarantineCommands

namespace {

int RestoreChecked(QuarantineStore& store, const std::string& sha1, QuarantineCommands::RestoreCrashPoint crashAfter) {
    std::vector<QuarantineEntry> entries;
    if (!store.ReadEntries(entries)) return MendrelExitCode::QuarantineUnreadable;
    const QuarantineEntry* newest = nullptr;
    bool known = false;
    for (const QuarantineEntry& candidate : entries) {
        if (candidate.sha1 != sha1) continue;
        known = true;
        if (candidate.state == kQuarantined || candidate.state == kRestoring) newest = &candidate;
    }
    if (!newest) {
        TW_LOG(LogLevel::Warning, "%s: %s", sha1.c_str(), known ? "restored already" : "not in quarantine");
        return MendrelExitCode::NotQuarantined;
    }
    QuarantineEntry entry = *newest;
    if (entry.kind == kQuarantineKindAutoRun) return AutoRunChange::Restore(store, entry);
    if (entry.kind == kQuarantineKindDriveCopy) return DriveCopyRemoval(store, DriveChecks::System()).Restore(entry);
    if (entry.kind == kQuarantineKindTask) {
        SystemTaskPlace place;
        return TaskRemoval::Restore(store, entry, place.Place());
    }
    // A restore that was interrupted is taken up again: whatever it finished is found in place (exactly
    // the saved bytes and keys), the rest is done now.
    const bool resuming = entry.state == kRestoring;

    // Everything that can be checked is checked before the first write.
    if (!IsLocalFixedPath(entry.originalPath)) {
        TW_LOG(LogLevel::Error, "%S is not a path on a local fixed drive; nothing restored", entry.originalPath.c_str());
        return MendrelExitCode::QuarantineUnreadable;
    }
    std::vector<RegFileKey> keys;
    std::vector<std::wstring> names;
    std::string problem;
    if (entry.copyName.empty() || entry.keysName.empty() || !store.LoadKeys(entry.keysName, keys))
        return MendrelExitCode::QuarantineUnreadable;
    if (!QuarantineCommands::SavedServiceNames(keys, names, problem)) {
        TW_LOG(LogLevel::Error, "%S: %s", entry.keysName.c_str(), problem.c_str());
        return MendrelExitCode::QuarantineUnreadable;
    }
    if (!SameNames(names, SplitServices(entry.services))) {
        TW_LOG(LogLevel::Error, "%S holds the keys of other services than %S; nothing restored",
               entry.keysName.c_str(), entry.services.c_str());
        return MendrelExitCode::QuarantineUnreadable;
    }
    std::vector<std::wstring> roots;
    for (const std::wstring& name : names) {
        roots.push_back(kServicesPath + name);
        if (!IsSameFilePath(SavedServiceDll(keys, roots.back()), entry.originalPath)) {
            TW_LOG(LogLevel::Error, "The saved ServiceDll of %S is not %S; nothing restored", name.c_str(),
                   entry.originalPath.c_str());
            return MendrelExitCode::QuarantineUnreadable;
        }
    }
    KernelHandle copy;
    if (!store.OpenCheckedCopy(entry, copy)) return MendrelExitCode::QuarantineUnreadable;

    const std::wstring target = Long(entry.originalPath);
    // A short name beside the original, the same for every attempt at this item, so that a later
    // restore finds what an interrupted one left.
    const std::wstring pending = Long(entry.originalPath.substr(0, entry.originalPath.rfind(L'\\') + 1) + L"~tw" +
                                      std::wstring(entry.sha1.begin(), entry.sha1.begin() + 8) + L".tmp");
    Presence file = FileAt(target, entry);
    Presence pendingFile = FileAt(pending, entry);
    std::vector<Presence> keysThere;
    for (const std::wstring& root : roots) keysThere.push_back(KeyAt(root, keys, resuming));
    const bool fileForeign = file == Presence::Foreign || (!resuming && file == Presence::Ours);
    if (fileForeign || pendingFile == Presence::Foreign || (!resuming && pendingFile == Presence::Ours)) {
        // Also what an interrupted copy left half written: not provably ours, so it stays for an
        // administrator to look at.
        TW_LOG(LogLevel::Warning, "%S or its temporary name %S is taken; nothing restored", entry.originalPath.c_str(),
               pending.c_str());
        return MendrelExitCode::RestoreRefused;
    }
    for (std::size_t i = 0; i < roots.size(); ++i) {
        if (keysThere[i] == Presence::Foreign || (!resuming && keysThere[i] == Presence::Ours)) {
            TW_LOG(LogLevel::Warning, "Key %S exists; nothing restored", roots[i].c_str());
            return MendrelExitCode::RestoreRefused;
        }
    }
    {
        FileSystemRedirectionGuard redirection;
        const std::wstring folder = target.substr(0, target.rfind(L'\\'));
        DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            TW_LOG(LogLevel::Error, "The folder of %S is gone or not a plain folder; nothing restored",
                   entry.originalPath.c_str());
            return MendrelExitCode::RestoreFailed;
        }
    }

    RestoreSteps steps;
    // Interrupted on purpose: everything stays as it is, as after a crash.
    auto interrupted = [&](QuarantineCommands::RestoreStep step) {
        if (!crashAfter || crashAfter(step)) return false;
        steps.Keep();
        return true;
    };
    // The manifest line is the commit point: once it says "restoring", a later run completes this.
    if (!resuming) {
        entry.state = kRestoring;
        entry.time = IsoUtcNow();
        if (!store.Record(entry)) return MendrelExitCode::RestoreFailed;
    }
    if (interrupted(QuarantineCommands::RestoreStep::Recorded)) return MendrelExitCode::RestoreFailed;
    // Put back what this run undid, so that the item reads as quarantined again.
    auto failed = [&](int code) {
        if (steps.Undoes() || !resuming) {
            entry.state = kQuarantined;
            entry.time = IsoUtcNow();
            store.Record(entry);
        }
        return code;
    };
    // A resumed restore's own pieces, found in place, are the ones to undo should this run fail.
    if (file == Presence::Ours) steps.FilePlaced(target);
    if (pendingFile == Presence::Ours) steps.FilePlaced(pending);

    if (file == Presence::Absent && pendingFile == Presence::Absent) {
        switch (store.CopyOut(copy.Get(), entry, pending)) {
        case QuarantineStore::CopyOutcome::Copied:
            break;
        case QuarantineStore::CopyOutcome::Damaged:
            return failed(MendrelExitCode::QuarantineUnreadable);
        case QuarantineStore::CopyOutcome::TargetExists:
            return failed(MendrelExitCode::RestoreRefused);
        default:
            return failed(MendrelExitCode::RestoreFailed);
        }
        steps.FilePlaced(pending);
        pendingFile = Presence::Ours;
    }
    if (interrupted(QuarantineCommands::RestoreStep::FilePlaced)) return MendrelExitCode::RestoreFailed;

    std::vector<RegFileKey> missingKeys;
    std::vector<std::wstring> missingRoots, foundRoots;
    for (std::size_t i = 0; i < roots.size(); ++i) {
        if (keysThere[i] == Presence::Ours) foundRoots.push_back(roots[i]);
        if (keysThere[i] != Presence::Absent) continue;
        missingRoots.push_back(roots[i]);
        for (const RegFileKey& key : KeysOf(keys, roots[i])) missingKeys.push_back(key);
    }
    steps.KeysWritten(foundRoots);
    TreeWrite written = WriteRegistryTrees(missingKeys, missingRoots);
    if (written != TreeWrite::Written)
        return failed(written == TreeWrite::KeyExists ? MendrelExitCode::RestoreRefused : MendrelExitCode::RestoreFailed);
    steps.KeysWritten(roots);
    if (interrupted(QuarantineCommands::RestoreStep::KeysWritten)) return MendrelExitCode::RestoreFailed;

    if (pendingFile == Presence::Ours) {
        BOOL moved;
        DWORD moveError;
        {
            FileSystemRedirectionGuard redirection;
            DWORD attributes = entry.attributes & kSettableAttributes;
            SetFileAttributesW(pending.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
            moved = MoveFileExW(pending.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
            moveError = GetLastError();
        }
        if (!moved) {
            TW_LOG(LogLevel::Error, "MoveFileExW(%S) Error=%d", entry.originalPath.c_str(), (int)moveError);
            return failed(moveError == ERROR_ALREADY_EXISTS || moveError == ERROR_FILE_EXISTS
                              ? MendrelExitCode::RestoreRefused
                              : MendrelExitCode::RestoreFailed);
        }
        steps.FileMoved(pending, target);
    }
    if (interrupted(QuarantineCommands::RestoreStep::FileMoved)) return MendrelExitCode::RestoreFailed;

    for (const std::wstring& name : names) {
        // The removal took the name out of the list: one there now was put back by the run resumed.
        if (IsListed(name)) {
            if (resuming) steps.NameAdded(name);
            continue;
        }
        if (!NetsvcsGroupList::Add(name)) return failed(MendrelExitCode::RestoreFailed);
        steps.NameAdded(name);
    }
    if (interrupted(QuarantineCommands::RestoreStep::NamesAdded)) return MendrelExitCode::RestoreFailed;

    // Everything is in place. Should the line not be written, nothing is undone: the item stays
    // "restoring", and the next -restore finds it all in place and writes the line.
    steps.Keep();
    entry.state = L"restored";
    entry.time = IsoUtcNow();
    if (!store.Record(entry)) {
        TW_LOG(LogLevel::Error, "%S is restored, but the manifest says so only after -restore runs again",
               entry.originalPath.c_str());
        return MendrelExitCode::RestoreFailed;
    }
    TW_LOG(LogLevel::Info, "Restored %S and the key(s) of %S; the service manager sees them after the next restart",
           entry.originalPath.c_str(), entry.services.c_str());
    return MendrelExitCode::Restored;
}

}  // namespace

namespace QuarantineCommands {

}  // namespace QuarantineCommands
