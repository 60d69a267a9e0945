#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win32/KernelHandle.h"

// One of the tool's per-machine folders ("Reports", "Quarantine", "Work" under
// "<common application data>\Quorvel\Tidewash"), opened so that a program running as SYSTEM may act in
// it. Every level below the common application data folder is made where missing and opened relative to
// the handle of the level above, never following a link; each must be a plain folder owned by
// Administrators or SYSTEM. The last level is then given owner Administrators and a list of its own
// (Administrators and SYSTEM, full control, handed down to everything inside) through the same handle.
//
// The open handles do not share delete access: while this object lives, no level can be renamed or
// removed, so a path below Path() keeps naming what was checked. Path() is for showing and for naming
// files inside; act on Handle() where the system allows it.
class ProtectedDataFolder {
public:
    // TidewashDataFolder(leaf), made safe as above.
    explicit ProtectedDataFolder(const wchar_t* leaf);
    // `levels` below an existing folder `root` (which is opened as it is, not checked for its owner).
    ProtectedDataFolder(const std::wstring& root, const std::vector<std::wstring>& levels);
    ProtectedDataFolder(const ProtectedDataFolder&) = delete;

    // An existing folder that an administrator named by its full local path ("C:\dir\sub"), opened the
    // same way from the root of its drive, level by level, each checked again in its parent's listing and
    // held without delete sharing, but without the owner rule: nothing is made and nothing changed.
    static std::unique_ptr<ProtectedDataFolder> OpenExisting(const std::wstring& path);

    // The file `name` directly inside `folder`, opened for writing (made when missing) without following
    // a link; refused (ERROR_CANT_ACCESS_FILE) when the folder's listing shows a link there. Nothing is
    // truncated: the caller looks at the handle first.
    static KernelHandle OpenFileInside(HANDLE folder, const std::wstring& name, DWORD& error);
    // The existing file `relative` ("sys\x.dll") below the folder `root`, each level opened relative to
    // the one above it without following a link: refused (ERROR_CANT_ACCESS_FILE) when a level's handle
    // or its parent's listing shows a link; ERROR_DIRECTORY when the last level is a folder. Opened with
    // `access`; others may read it but not change it while the handle is held.
    static KernelHandle OpenFileBeneath(HANDLE root, const std::wstring& relative, DWORD& error,
                                        ACCESS_MASK access = GENERIC_READ);
    // Makes the new file `relative` below `root` the same way, its folders opened without following a
    // link (ERROR_CANT_ACCESS_FILE), never over an existing name (ERROR_FILE_EXISTS); shared with nobody.
    static KernelHandle CreateFileBeneath(HANDLE root, const std::wstring& relative, DWORD& error, ACCESS_MASK access);
    ProtectedDataFolder& operator=(const ProtectedDataFolder&) = delete;

    bool IsOpen() const { return leaf_.IsValid(); }
    HANDLE Handle() const { return leaf_.Get(); }
    // The full path; also set when opening failed, so that the failure can name it.
    const std::wstring& Path() const { return path_; }
    // Why the folder is not open ("... is a link", "... is owned by S-1-5-21-..."); empty when open.
    const std::wstring& Failure() const { return failure_; }
    // One line for each level that someone else had made and that this run took over.
    const std::vector<std::wstring>& TakenOver() const { return takenOver_; }

    // The existing folder `name` directly inside this one, opened like a level (never following a link,
    // checked again in the listing, held without delete sharing) and trusted only as it is: it must be
    // owned by Administrators or SYSTEM (or be one this system records as this process's own). Nothing is
    // made, taken over or changed. On failure an invalid handle and the reason in `failure`.
    KernelHandle OpenTrustedChild(const std::wstring& name, std::wstring& failure);

    // A new folder `name` directly inside `parent`, made by this very call (never one that was there),
    // owned by Administrators with the protected list. The handle shares no delete access. On failure
    // an invalid handle and the reason in `failure`.
    static KernelHandle CreateNewFolder(HANDLE parent, const std::wstring& name, std::wstring& failure);

    // The descriptor the last level gets: owner Administrators; Administrators and SYSTEM full control,
    // inherited by everything inside; nothing inherited from above.
    static bool ProtectedSecurity(std::vector<BYTE>& descriptor);

    // The decisions, apart so that tests can feed them what Wine cannot make.
    // A folder to go on with: a directory and no reparse point (junction, mount point, link).
    static bool IsPlainFolder(DWORD attributes);
    // The owner in `descriptor` is Administrators, SYSTEM, or `ownOwner` (may be null): the owner this
    // system records for a folder this process creates asking for Administrators. Where the system keeps
    // the owner asked for, that is Administrators again; where it keeps none (a volume without security,
    // Wine), it is the one every process of the session gets.
    static bool IsTrustedOwner(PSECURITY_DESCRIPTOR descriptor, PSID ownOwner);

    // What becomes of an existing level. A level that someone else made (a user, before the first run,
    // to block every clean) is taken over by an administrator, through its handle: owner Administrators
    // and the protected list. A link or anything but a plain folder is refused whoever made it.
    enum class LevelVerdict { Trusted, TakeOver, ForeignOwner, Link, NotFolder, NotListed };
    // `handleAttributes` as the opened handle shows them, `listedAttributes` as the parent's listing
    // does; `descriptor` null for a level made by this very open; `mayTakeOver` for an administrator.
    static LevelVerdict JudgeLevel(DWORD handleAttributes, DWORD listedAttributes, PSECURITY_DESCRIPTOR descriptor,
                                   PSID ownOwner, bool mayTakeOver);
private:
    ProtectedDataFolder() = default;
    bool Open(const std::wstring& root, const std::vector<std::wstring>& levels);
    bool CheckLevel(HANDLE parent, const std::wstring& name, KernelHandle& level, const std::wstring& path,
                    bool created);
    bool TakeOver(HANDLE parent, const std::wstring& name, KernelHandle& level,
                  const BY_HANDLE_FILE_INFORMATION& checked, const std::wstring& path, const std::wstring& formerOwner);
    static bool IsAdministrator();
    // Learns, once, which owner this system records for a folder this process makes asking for
    // Administrators (ownOwner_), on a probe folder that goes when its handle closes.
    void LearnOwnOwner();
    static void EnableTakeOverPrivileges();
    bool Fail(const std::wstring& reason);

    std::vector<KernelHandle> levels_;  // every level above the last, held so that none can move
    KernelHandle leaf_;
    std::wstring path_;
    std::wstring failure_;
    std::vector<BYTE> ownOwner_;  // learnt once, when an existing level needs it
    bool ownOwnerKnown_ = false;
    bool existingOnly_ = false;  // OpenExisting: no owner rule, nothing made or changed
    std::vector<std::wstring> takenOver_;
};
