#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "grimlet/mendrel/RegFile.h"
#include "platform/security/ProtectedDataFolder.h"
#include "platform/win32/KernelHandle.h"

// A copy of a file taken before it is deleted.
struct QuarantinedFile {
    std::wstring originalPath;
    std::wstring copyPath;  // "<quarantine folder>\<SHA-1>.bin"
    std::string sha1;       // upper-case hexadecimal
    uint64_t size = 0;
    DWORD attributes = 0;     // as the original had them
    bool newlyStored = false;  // false when an earlier removal had stored the same bytes already
};

// The kinds of entry: a worm service with its DLL, or the AutoRun setting as it was before it was turned
// off (its saved values under "<SHA-1>.reg", the SHA-1 of that file's bytes; no copy). Manifest lines
// written before there were kinds name services.
constexpr wchar_t kQuarantineKindService[] = L"service";
constexpr wchar_t kQuarantineKindAutoRun[] = L"autorun";
// The worm's copy on a removable or network drive with its autorun.inf: two stored copies, and a small
// descriptor (both paths, attributes and SHA-1s, the volume serial) whose SHA-1 is the entry's id.
constexpr wchar_t kQuarantineKindDriveCopy[] = L"drivecopy";
// A scheduled task: its definition (the .job file's bytes or the task's XML) in "<SHA-1>.task", the
// SHA-1 of that file's bytes, which also hold the task's name and the time of its removal.
constexpr wchar_t kQuarantineKindTask[] = L"task";

// One removal as the manifest records it, in its latest state.
struct QuarantineEntry {
    std::wstring originalPath;
    std::string sha1;        // empty when the file was not copied
    uint64_t size = 0;
    std::wstring time;       // UTC, "2011-04-05T06:07:08Z", when the entry got its state
    std::wstring state;      // "quarantined", "restored", "missing", "unreadable; moved at restart to ..."
    DWORD attributes = 0;
    std::wstring copyName;   // "<SHA-1>.bin"; empty without a copy
    std::wstring keysName;   // the saved service keys, "<SHA-1>.reg" or "keys-<n>.reg"; names the entry
    std::wstring services;   // the service names, separated by ", "
    std::wstring removedAt;  // UTC time of the removal (the first line of the entry)
    std::wstring unsaved;    // what of the service keys could not be saved, separated by "; "
    std::wstring kind = kQuarantineKindService;  // what was removed or changed: a service or a setting
};

// Where the engine keeps what it removed: "<common application data>\Quorvel\Tidewash\Quarantine", a
// per-machine folder that outlives the work folder (which the next start of Tidewash.exe deletes).
// Empty when the system will not name the common application data folder or the result leaves too
// little room for the files inside.
std::wstring MachineQuarantineFolder();

// The quarantine folder: one "<SHA-1>.bin" per file, one ".reg" file per removal with the service keys
// as they were, and "manifest.txt", which only ever grows: one UTF-8 line per change of an entry,
// with tab-separated columns original path, SHA-1, size, UTC time, state, attributes, copy file, key
// file, services, what of the keys could not be saved ("-" for an empty column) and, for anything but
// a service, the kind. The last line of an entry gives its state.
class QuarantineStore {
public:
    explicit QuarantineStore(const std::wstring& folder) : path_(folder) {}

    // Opens the folder as a ProtectedDataFolder (made where missing, every level a plain folder owned
    // by Administrators or SYSTEM, the folder itself closed to everybody else through its handle) and
    // holds it open. Nothing is read or written in a folder that fails: FolderFailure() says why.
    bool Prepare();
    const std::wstring& FolderFailure() const;

    // Copies in the file open as `source` (read from where it stands), which lies at `path` with
    // `attributes`. False with the system error in `error` when it cannot be read or written.
    bool Copy(HANDLE source, const std::wstring& path, DWORD attributes, QuarantinedFile& copy, DWORD& error);
    // Takes back a copy that will not be needed (the original stays). A copy an earlier entry shares
    // stays.
    void Discard(const QuarantinedFile& copy);

    // Writes the keys as a regedit file named after `stem` under a name no earlier removal used.
    bool SaveKeys(const std::vector<RegFileKey>& keys, const std::wstring& stem, std::wstring& fileName);
    void DiscardKeys(const std::wstring& fileName);
    // Reads a file SaveKeys wrote; false, logged, when it is missing, too large or malformed (or holds
    // absent keys or values, unless `allowAbsent`).
    bool LoadKeys(const std::wstring& fileName, std::vector<RegFileKey>& keys, bool allowAbsent = false) const;

    // A small file of the store's own under `name`, which no file may hold yet (nothing is left behind
    // when it cannot be written; DiscardKeys takes it back); and one read back whole (at most `limit`
    // bytes, a plain file with a trusted owner). False, logged, otherwise.
    bool SaveNewFile(const std::wstring& name, const std::string& bytes);
    bool SaveNewFile(const std::wstring& name, const std::vector<uint8_t>& bytes) {
        return SaveNewFile(name, std::string(bytes.begin(), bytes.end()));
    }
    bool LoadFile(const std::wstring& name, uint64_t limit, std::string& bytes) const;

    bool Record(const QuarantineEntry& entry);
    // Every entry in its latest state, oldest first. True with no entries when nothing was ever
    // quarantined; false when the manifest exists but cannot be read.
    bool ReadEntries(std::vector<QuarantineEntry>& entries) const;

    // Opens an entry's stored copy, "<SHA-1>.bin", a plain file owned by Administrators or SYSTEM, and
    // reads it whole: false, logged, unless it holds the recorded size and SHA-1. The handle lets others
    // read the copy but not change it, so what was checked is what CopyOut copies.
    bool OpenCheckedCopy(const QuarantineEntry& entry, KernelHandle& copy) const;

    enum class CopyOutcome { Copied, Damaged, TargetExists, Failed };
    // Copies the checked copy to `target`, which must not exist yet, checking size and SHA-1 once more on
    // the way. Anything but Copied leaves no target behind.
    CopyOutcome CopyOut(HANDLE checkedCopy, const QuarantineEntry& entry, const std::wstring& target) const;
    // The same into a new file the caller made (open for writing and DELETE); `shown` names it in the log.
    // Anything but Copied marks it for deletion.
    CopyOutcome CopyOutInto(HANDLE checkedCopy, const QuarantineEntry& entry, HANDLE target,
                            const std::wstring& shown) const;

    const std::wstring& Folder() const { return path_; }

private:
    bool AppendLine(const std::wstring& line);
    bool HasTrustedOwner(HANDLE file) const;
    // For the files this store makes: owner Administrators, the list inherited from the folder.
    SECURITY_ATTRIBUTES OwnedByAdministrators() const;
    // A whole file of the store of at most `limit` bytes, refused (ERROR_ACCESS_DENIED) unless it is a
    // plain file with a trusted owner. False, with the system error, when it cannot be read.
    bool ReadStoreFile(const std::wstring& name, uint64_t limit, std::string& bytes, DWORD& error) const;

    std::wstring path_;
    std::unique_ptr<ProtectedDataFolder> folder_;
    std::vector<BYTE> folderOwner_;  // what this system reports as the owner of the folder it was given
    std::vector<BYTE> fileOwner_;    // "O:BA", self-relative
};
