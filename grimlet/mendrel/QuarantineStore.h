#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "grimlet/mendrel/RegFile.h"

// A copy of a file taken before it is deleted.
struct QuarantinedFile {
    std::wstring originalPath;
    std::wstring copyPath;  // "<quarantine folder>\<SHA-1>.bin"
    std::string sha1;       // upper-case hexadecimal
    uint64_t size = 0;
    DWORD attributes = 0;     // as the original had them
    bool newlyStored = false;  // false when an earlier removal had stored the same bytes already
};

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
};

// Where the engine keeps what it removed: "<common application data>\Quorvel\Tidewash\Quarantine", a
// per-machine folder that outlives the work folder (which the next start of Tidewash.exe deletes).
// Empty when the system will not name the common application data folder or the result leaves too
// little room for the files inside.
std::wstring MachineQuarantineFolder();

// The quarantine folder: one "<SHA-1>.bin" per file, one ".reg" file per removal with the service keys
// as they were, and "manifest.txt", which only ever grows: one UTF-8 line per change of an entry,
// with tab-separated columns original path, SHA-1, size, UTC time, state, attributes, copy file, key
// file, services and what of the keys could not be saved ("-" for an empty column). The last line of an entry gives its state.
class QuarantineStore {
public:
    explicit QuarantineStore(const std::wstring& folder) : folder_(folder) {}

    // Creates the folder (and the ones above it) and gives it an access list of its own that lets only
    // Administrators and SYSTEM in. False when either fails: nothing may then be removed.
    bool Prepare();

    // Copies in the file open as `source` (read from where it stands), which lies at `path` with
    // `attributes`. False with the system error in `error` when it cannot be read or written.
    bool Copy(HANDLE source, const std::wstring& path, DWORD attributes, QuarantinedFile& copy, DWORD& error);
    // Takes back a copy that will not be needed (the original stays). A copy an earlier entry shares
    // stays.
    void Discard(const QuarantinedFile& copy);

    // Writes the keys as a regedit file named after `stem` under a name no earlier removal used.
    bool SaveKeys(const std::vector<RegFileKey>& keys, const std::wstring& stem, std::wstring& fileName);
    void DiscardKeys(const std::wstring& fileName);
    // Reads a file SaveKeys wrote; false, logged, when it is missing, too large or malformed.
    bool LoadKeys(const std::wstring& fileName, std::vector<RegFileKey>& keys) const;

    bool Record(const QuarantineEntry& entry);
    // Every entry in its latest state, oldest first. True with no entries when nothing was ever
    // quarantined; false when the manifest exists but cannot be read.
    bool ReadEntries(std::vector<QuarantineEntry>& entries) const;

    enum class CopyOutcome { Copied, Damaged, TargetExists, Failed };
    // Copies an entry's stored file to `target`, which must not exist yet, and checks that the copy has
    // the recorded size and SHA-1 (Damaged when not, or when the stored copy is missing). Anything but
    // Copied leaves no target behind.
    CopyOutcome CopyOut(const QuarantineEntry& entry, const std::wstring& target) const;

    const std::wstring& Folder() const { return folder_; }
    // The owner and access list Prepare gives the folder (self-relative); false when it cannot be built.
    static bool FolderSecurity(std::vector<BYTE>& descriptor);

private:
    bool AppendLine(const std::wstring& line);
    std::wstring folder_;
};
