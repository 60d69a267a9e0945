#pragma once
// Whether a scheduled task is the worm's: it starts rundll32 (or the DLL itself) on a DLL that this
// scan has proven to be the worm's, as the very same file or as a file with the same SHA-1. Pure
// decision code: the caller expands the task's %variables%, and the file look-ups go through a seam.
#include <cstdint>
#include <string>
#include <vector>

// One file as the scan saw it: the volume and file index name it; the SHA-1 (hexadecimal, as FileDigest
// writes it) was taken at scan time, so that a later change of the file cannot make it match.
struct TaskFileIdentity {
    uint32_t volumeSerial = 0;
    uint64_t fileIndex = 0;
    std::string sha1;  // empty: not hashed, never matches
};

// The worm DLLs proven in this scan.
struct ProvenWormDll {
    std::wstring path;  // for showing
    TaskFileIdentity identity;
};

class ITaskFileLookup {
public:
    enum class Result { Absent, Found, Unreadable };
    virtual ~ITaskFileLookup() = default;
    // Opens the file at `path` without following links and names it; Unreadable when it is there but
    // cannot be opened or hashed.
    virtual Result Identify(const std::wstring& path, TaskFileIdentity& identity) = 0;
};

struct TaskCommand {
    std::wstring program;           // expanded
    std::wstring parameters;        // expanded
    std::wstring workingDirectory;  // expanded, may be empty
};

// Where rundll32 and a relative DLL name are looked for: rundll32's own folders (System32, and
// SysWOW64 on 64-bit Windows) and the Windows folder, in the loader's order.
struct TaskSearchFolders {
    std::vector<std::wstring> systemFolders;
    std::wstring windowsFolder;
};

struct WormTaskVerdict {
    enum class Kind { NotWorm, Worm, Unchecked };
    Kind kind = Kind::NotWorm;
    std::wstring dllPath;  // the DLL the task runs, as resolved (empty when there is none)
    std::string reason;    // why, for the log and the report
};

class WormTaskDecision {
public:
    WormTaskDecision(const std::vector<ProvenWormDll>& wormDlls, const TaskSearchFolders& folders, ITaskFileLookup& lookup)
        : wormDlls_(wormDlls), folders_(folders), lookup_(lookup) {}

    WormTaskVerdict Judge(const TaskCommand& command) const;

    // The DLL rundll32 is asked to load: the quoted first word, or the text before the first comma.
    // False when there is none, or when an unquoted name holds a blank (rundll32 versions split such a
    // line differently, so it names no one file for certain).
    static bool Rundll32Target(const std::wstring& parameters, std::wstring& dll);
    // Whether `program` starts rundll32: its bare name, or rundll32.exe in one of the system folders.
    bool IsRundll32(const std::wstring& program) const;

private:
    WormTaskVerdict JudgeDll(const std::wstring& dll, const std::wstring& workingDirectory) const;
    bool IsWormFile(const TaskFileIdentity& identity) const;

    const std::vector<ProvenWormDll>& wormDlls_;
    const TaskSearchFolders& folders_;
    ITaskFileLookup& lookup_;
};
