#include "platform/security/ProtectedDataFolder.h"

#include <windows.h>
#include <winternl.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cwctype>
#include <cwchar>

#include "platform/system/DataFolder.h"
#include "platform/win32/LocalMemory.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE folder, HANDLE event, PIO_APC_ROUTINE routine, PVOID context,
                                                PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                                                FILE_INFORMATION_CLASS informationClass, BOOLEAN singleEntry,
                                                PUNICODE_STRING pattern, BOOLEAN restart);

namespace {

// Administrators and SYSTEM, full access, handed down to every file and folder inside; nothing
// inherited from above ("P"), so a folder somebody else made first ends up closed as well.
const wchar_t kProtectedSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// For the levels above the last one that have to be made: our owner, the list inherited from above.
const wchar_t kOwnerOnlySecurity[] = L"O:BA";

// What every level is opened with: enough to look at it, make things inside it and read its owner.
constexpr ACCESS_MASK kLevelAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY |
                                     FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
// The levels above a folder that an administrator named are only passed through.
constexpr ACCESS_MASK kPassAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// No FILE_SHARE_DELETE: while the handle is open nobody can rename the folder or one above it.
constexpr ULONG kLevelSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A link in place of a level is opened as itself and then refused, never followed.
constexpr ULONG kLevelOptions = FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
                                FILE_OPEN_FOR_BACKUP_INTENT;

std::wstring ErrorText(DWORD error) { return L"error " + std::to_wstring(error); }

std::wstring SidText(PSID sid) {
    LocalMemory<LPWSTR> text;
    if (!sid || !ConvertSidToStringSidW(sid, text.Receive())) return L"(no owner)";
    return text.Get();
}

bool DescriptorFrom(const wchar_t* sddl, std::vector<BYTE>& descriptor) {
    LocalMemory<PSECURITY_DESCRIPTOR> converted;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, converted.Receive(), nullptr))
        return false;
    const BYTE* bytes = static_cast<const BYTE*>(converted.Get());
    descriptor.assign(bytes, bytes + GetSecurityDescriptorLength(converted.Get()));
    return true;
}

// One name directly inside `parent`: no separators, no "." or "..", so that the open stays there.
bool IsSingleName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:") == std::wstring::npos;
}

// `name` directly inside `parent`, for the native calls that look it up relative to the handle, so that
// nothing above it is looked up by path again.
class ChildName {
public:
    ChildName(HANDLE parent, const std::wstring& name, PSECURITY_DESCRIPTOR security) {
        unicode_.Buffer = const_cast<PWSTR>(name.c_str());
        unicode_.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
        unicode_.MaximumLength = unicode_.Length;
        InitializeObjectAttributes(&attributes_, &unicode_, OBJ_CASE_INSENSITIVE, parent, security);
    }
    ChildName(const ChildName&) = delete;
    ChildName& operator=(const ChildName&) = delete;
    POBJECT_ATTRIBUTES Attributes() { return &attributes_; }

private:
    UNICODE_STRING unicode_;
    OBJECT_ATTRIBUTES attributes_;
};

// Opens or makes `name` inside `parent`. `created` says whether this call made it.
DWORD OpenChild(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG disposition, ULONG options,
                PSECURITY_DESCRIPTOR security, KernelHandle& child, bool& created, ULONG sharing = kLevelSharing) {
    created = false;
    if (!IsSingleName(name) || name.size() > 255) return ERROR_INVALID_NAME;
    ChildName childName(parent, name, security);
    IO_STATUS_BLOCK status = {};
    HANDLE opened = nullptr;
    const NTSTATUS result = NtCreateFile(&opened, access, childName.Attributes(), &status, nullptr,
                                         FILE_ATTRIBUTE_NORMAL, sharing, disposition, options, nullptr, 0);
    if (!NT_SUCCESS(result)) return RtlNtStatusToDosError(result);
    child.Attach(opened);
    created = status.Information == FILE_CREATED;
    return ERROR_SUCCESS;
}

// The attributes of the entry `name` as the folder `parent` lists it, a link not followed. Asked besides
// the opened handle's own: where a system follows a link in spite of FILE_OPEN_REPARSE_POINT (Wine, for a
// Unix symbolic link), the listing still shows what the entry is. INVALID_FILE_ATTRIBUTES when the
// folder does not list it.
DWORD EntryAttributes(HANDLE parent, const std::wstring& name) {
    if (name.find_first_of(L"*?<>\"") != std::wstring::npos) return INVALID_FILE_ATTRIBUTES;
    UNICODE_STRING pattern;
    pattern.Buffer = const_cast<PWSTR>(name.c_str());
    pattern.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    pattern.MaximumLength = pattern.Length;
    // Room for the entry and a name of the longest length a folder allows.
    alignas(8) BYTE buffer[sizeof(FILE_DIRECTORY_INFORMATION) + 256 * sizeof(wchar_t)];
    IO_STATUS_BLOCK status = {};
    if (!NT_SUCCESS(NtQueryDirectoryFile(parent, nullptr, nullptr, nullptr, &status, buffer, sizeof buffer,
                                         FileDirectoryInformation, TRUE, &pattern, TRUE)))
        return INVALID_FILE_ATTRIBUTES;
    return reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(buffer)->FileAttributes;
}

// The owner part of `object`'s security, read straight from the object. GetSecurityInfo would load
// ntmarta.dll by a bare name, which the system looks for in the program's folder first: before the
// program runs from its protected copy, that folder may be anybody's.
DWORD ReadOwner(HANDLE object, std::vector<BYTE>& descriptor, PSID& owner) {
    owner = nullptr;
    DWORD needed = 0;
    GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) return GetLastError();
    descriptor.assign(needed, 0);
    BOOL defaulted = FALSE;
    if (!GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, descriptor.data(), needed, &needed) ||
        !GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted))
        return GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace

ProtectedDataFolder::ProtectedDataFolder(const wchar_t* leaf) {
    // TidewashDataFolder names the levels below the common application data folder; they are split off
    // again here so that each is opened on its own.
    static const wchar_t kTidewashLevels[] = L"\\Quorvel\\Tidewash";
    const std::size_t suffix = wcslen(kTidewashLevels);
    const std::wstring below = TidewashDataFolder(nullptr);
    const std::wstring root = below.size() > suffix ? below.substr(0, below.size() - suffix) : std::wstring();
    if (root.empty() || below.compare(root.size(), std::wstring::npos, kTidewashLevels) != 0) {
        Fail(L"the common application data folder is not known");
        return;
    }
    std::vector<std::wstring> levels = {L"Quorvel", L"Tidewash"};
    if (leaf && *leaf) levels.push_back(leaf);
    Open(root, levels);
}

ProtectedDataFolder::ProtectedDataFolder(const std::wstring& root, const std::vector<std::wstring>& levels) {
    Open(root, levels);
}

std::unique_ptr<ProtectedDataFolder> ProtectedDataFolder::OpenExisting(const std::wstring& path) {
    std::unique_ptr<ProtectedDataFolder> folder(new ProtectedDataFolder);
    folder->existingOnly_ = true;
    // "C:\" and then one name per level; "." and ".." were resolved by the caller's full path.
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\' || !iswalpha(path[0])) {
        folder->path_ = path;
        folder->Fail(path + L" is not a full local path");
        return folder;
    }
    std::vector<std::wstring> levels;
    std::size_t start = 3;
    while (start < path.size()) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        if (end > start) levels.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    if (levels.empty()) {
        // The root of a drive is the volume's own: it is only required to be a folder, not a link.
        folder->path_ = path.substr(0, 3);
        folder->leaf_.Attach(CreateFileW(folder->path_.c_str(), kLevelAccess, kLevelSharing, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION information;
        if (!folder->leaf_.IsValid() || !GetFileInformationByHandle(folder->leaf_.Get(), &information) ||
            !IsPlainFolder(information.dwFileAttributes))
            folder->Fail(folder->path_ + L" cannot be opened as a folder");
        return folder;
    }
    folder->Open(path.substr(0, 3), levels);
    return folder;
}

KernelHandle ProtectedDataFolder::OpenFileInside(HANDLE folder, const std::wstring& name, DWORD& error) {
    KernelHandle file;
    bool created = false;
    error = OpenChild(folder, name, GENERIC_WRITE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_OPEN_IF,
                      FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, file,
                      created, FILE_SHARE_READ);
    if (error != ERROR_SUCCESS) return KernelHandle();
    const DWORD listed = EntryAttributes(folder, name);
    if (listed == INVALID_FILE_ATTRIBUTES || (listed & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        error = ERROR_CANT_ACCESS_FILE;
        return KernelHandle();
    }
    return file;
}

namespace {

// Opens the folders of `relative` below `root` one by one, never through a link; `parent` is then the
// last folder (or `root`) and `leaf` the last part. ERROR_CANT_ACCESS_FILE for a link on the way.
DWORD OpenLevelsBeneath(HANDLE root, const std::wstring& relative, KernelHandle& holder, HANDLE& parent,
                        std::wstring& leaf) {
    parent = root;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos) {
            leaf = relative.substr(start);
            return ERROR_SUCCESS;
        }
        const std::wstring name = relative.substr(start, end - start);
        KernelHandle next;
        bool created = false;
        const DWORD error =
            OpenChild(parent, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_OPEN,
                      FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, next, created,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        if (error != ERROR_SUCCESS) return error;
        BY_HANDLE_FILE_INFORMATION information = {};
        const DWORD listed = EntryAttributes(parent, name);
        if (!GetFileInformationByHandle(next.Get(), &information) || listed == INVALID_FILE_ATTRIBUTES ||
            ((information.dwFileAttributes | listed) & FILE_ATTRIBUTE_REPARSE_POINT))
            return ERROR_CANT_ACCESS_FILE;
        holder = std::move(next);
        parent = holder.Get();
        start = end + 1;
    }
}

}  // namespace

KernelHandle ProtectedDataFolder::OpenFileBeneath(HANDLE root, const std::wstring& relative, DWORD& error,
                                                  ACCESS_MASK access) {
    KernelHandle folder;
    HANDLE parent = nullptr;
    std::wstring name;
    error = OpenLevelsBeneath(root, relative, folder, parent, name);
    if (error != ERROR_SUCCESS) return KernelHandle();
    KernelHandle file;
    bool created = false;
    error = OpenChild(parent, name, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_OPEN,
                      FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_SEQUENTIAL_ONLY,
                      nullptr, file, created, FILE_SHARE_READ);
    const DWORD listed = EntryAttributes(parent, name);
    if (error != ERROR_SUCCESS) {
        // A folder where a file was asked for is refused as "access denied"; say what it is.
        if (listed != INVALID_FILE_ATTRIBUTES && (listed & FILE_ATTRIBUTE_DIRECTORY)) error = ERROR_DIRECTORY;
        return KernelHandle();
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file.Get(), &information) || listed == INVALID_FILE_ATTRIBUTES ||
        ((information.dwFileAttributes | listed) & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        error = ERROR_CANT_ACCESS_FILE;
        return KernelHandle();
    }
    return file;
}

KernelHandle ProtectedDataFolder::CreateFileBeneath(HANDLE root, const std::wstring& relative, DWORD& error,
                                                    ACCESS_MASK access) {
    KernelHandle folder;
    HANDLE parent = nullptr;
    std::wstring name;
    error = OpenLevelsBeneath(root, relative, folder, parent, name);
    if (error != ERROR_SUCCESS) return KernelHandle();
    KernelHandle file;
    bool created = false;
    error = OpenChild(parent, name, access | SYNCHRONIZE, FILE_CREATE,
                      FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, file,
                      created, 0);
    return error == ERROR_SUCCESS ? std::move(file) : KernelHandle();
}

bool ProtectedDataFolder::Fail(const std::wstring& reason) {
    failure_ = reason;
    leaf_.Close();
    levels_.clear();
    return false;
}

bool ProtectedDataFolder::Open(const std::wstring& root, const std::vector<std::wstring>& levels) {
    // A drive's root ("C:\\") ends in its separator already.
    const std::wstring base = !root.empty() && root.back() == L'\\' ? root.substr(0, root.size() - 1) : root;
    path_ = base;
    for (const std::wstring& level : levels) path_ += L"\\" + level;
    if (levels.empty()) return Fail(L"no folder is named below " + root);

    // The common application data folder is the system's; it is only required to be a folder, not a link.
    KernelHandle parent(CreateFileW(root.c_str(), existingOnly_ ? kPassAccess : kLevelAccess, kLevelSharing, nullptr,
                                    OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!parent.IsValid()) return Fail(root + L" cannot be opened (" + ErrorText(GetLastError()) + L")");
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(parent.Get(), &information) || !IsPlainFolder(information.dwFileAttributes))
        return Fail(root + L" is not a plain folder");
    levels_.push_back(std::move(parent));

    std::vector<BYTE> ownerOnly, protectedSecurity;
    if (!DescriptorFrom(kOwnerOnlySecurity, ownerOnly) || !ProtectedSecurity(protectedSecurity))
        return Fail(L"the security descriptor cannot be built (" + ErrorText(GetLastError()) + L")");

    std::wstring path = base;
    for (std::size_t index = 0; index < levels.size(); ++index) {
        const bool last = index + 1 == levels.size();
        path += L"\\" + levels[index];
        KernelHandle level;
        bool created = false;
        const bool protect = last && !existingOnly_;
        const ACCESS_MASK access = existingOnly_ && !last ? kPassAccess : kLevelAccess;
        const DWORD error =
            OpenChild(levels_.back().Get(), levels[index], access | (protect ? WRITE_DAC | WRITE_OWNER : 0),
                      existingOnly_ ? FILE_OPEN : FILE_OPEN_IF, kLevelOptions,
                      protect ? protectedSecurity.data() : ownerOnly.data(), level, created);
        if (error == ERROR_DIRECTORY) return Fail(path + L" is not a folder");
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Fail(path + L" does not exist");
        if (error != ERROR_SUCCESS) return Fail(path + L" cannot be opened (" + ErrorText(error) + L")");
        if (!CheckLevel(levels_.back().Get(), levels[index], level, path, created)) return false;
        if (last && existingOnly_) {
            leaf_ = std::move(level);
        } else if (last) {
            // Straight onto this handle, without the walk through everything inside that SetSecurityInfo
            // would make to pass the entries on: what is inside keeps its own list, and no link that
            // someone may have left in there is ever followed.
            if (!SetKernelObjectSecurity(level.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         protectedSecurity.data()))
                return Fail(L"the access list of " + path + L" cannot be set (" + ErrorText(GetLastError()) + L")");
            leaf_ = std::move(level);
        } else {
            levels_.push_back(std::move(level));
        }
    }
    failure_.clear();
    return true;
}

bool ProtectedDataFolder::CheckLevel(HANDLE parent, const std::wstring& name, KernelHandle& level,
                                     const std::wstring& path, bool created) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(level.Get(), &information))
        return Fail(L"the attributes of " + path + L" cannot be read (" + ErrorText(GetLastError()) + L")");
    const DWORD listed = EntryAttributes(parent, name);
    // Made by this call with our descriptor: nobody else has had it. A folder an administrator named
    // is theirs to choose.
    const bool ownerAsked = !created && !existingOnly_;
    std::vector<BYTE> descriptor;
    PSID owner = nullptr;
    if (ownerAsked) {
        const DWORD error = ReadOwner(level.Get(), descriptor, owner);
        if (error != ERROR_SUCCESS)
            return Fail(L"the owner of " + path + L" cannot be read (" + ErrorText(error) + L")");
    }
    const bool mayTakeOver = ownerAsked && IsAdministrator();
    LevelVerdict verdict =
        JudgeLevel(information.dwFileAttributes, listed, ownerAsked ? descriptor.data() : nullptr, nullptr, mayTakeOver);
    if (verdict == LevelVerdict::TakeOver || verdict == LevelVerdict::ForeignOwner) {
        LearnOwnOwner();
        if (!ownOwner_.empty())
            verdict = JudgeLevel(information.dwFileAttributes, listed, descriptor.data(), ownOwner_.data(), mayTakeOver);
    }
    switch (verdict) {
    case LevelVerdict::Trusted: return true;
    case LevelVerdict::NotListed: return Fail(path + L" is not listed in the folder above it");
    case LevelVerdict::Link: return Fail(path + L" is a link");
    case LevelVerdict::NotFolder: return Fail(path + L" is not a folder");
    case LevelVerdict::ForeignOwner:
        return Fail(path + L" is owned by " + SidText(owner) + L", not by Administrators or SYSTEM");
    case LevelVerdict::TakeOver: break;
    }
    return TakeOver(parent, name, level, information, path, SidText(owner));
}

void ProtectedDataFolder::LearnOwnOwner() {
    if (ownOwnerKnown_) return;
    // What owner does this system record for a folder we make asking for Administrators? Learnt on a
    // folder that is made inside the common application data folder and goes when its handle closes.
    ownOwnerKnown_ = true;
    std::vector<BYTE> ownerOnly;
    wchar_t probeName[64];
    _snwprintf(probeName, 64, L"Tidewash-owner-%lu-%lu.tmp", GetCurrentProcessId(), GetTickCount());
    probeName[63] = L'\0';
    KernelHandle probe;
    bool probeCreated = false;
    if (DescriptorFrom(kOwnerOnlySecurity, ownerOnly) &&
        OpenChild(levels_.front().Get(), probeName, READ_CONTROL | DELETE | SYNCHRONIZE, FILE_CREATE,
                  kLevelOptions | FILE_DELETE_ON_CLOSE, ownerOnly.data(), probe, probeCreated) == ERROR_SUCCESS) {
        std::vector<BYTE> probeDescriptor;
        PSID probeOwner = nullptr;
        if (ReadOwner(probe.Get(), probeDescriptor, probeOwner) == ERROR_SUCCESS && probeOwner &&
            IsValidSid(probeOwner)) {
            const BYTE* bytes = static_cast<const BYTE*>(probeOwner);
            ownOwner_.assign(bytes, bytes + GetLengthSid(probeOwner));
        }
    }
}

KernelHandle ProtectedDataFolder::OpenTrustedChild(const std::wstring& name, std::wstring& failure) {
    KernelHandle child;
    const std::wstring path = path_ + L"\\" + name;
    if (!IsOpen()) {
        failure = path_ + L" is not open";
        return child;
    }
    bool created = false;
    const DWORD error = OpenChild(leaf_.Get(), name, kLevelAccess, FILE_OPEN, kLevelOptions, nullptr, child, created);
    if (error != ERROR_SUCCESS) {
        failure = path + L" cannot be opened (" + ErrorText(error) + L")";
        return KernelHandle();
    }
    BY_HANDLE_FILE_INFORMATION information;
    std::vector<BYTE> descriptor;
    PSID owner = nullptr;
    if (!GetFileInformationByHandle(child.Get(), &information) || ReadOwner(child.Get(), descriptor, owner) != ERROR_SUCCESS) {
        failure = L"the attributes or the owner of " + path + L" cannot be read (" + ErrorText(GetLastError()) + L")";
        return KernelHandle();
    }
    const DWORD listed = EntryAttributes(leaf_.Get(), name);
    LevelVerdict verdict = JudgeLevel(information.dwFileAttributes, listed, descriptor.data(), nullptr, false);
    if (verdict == LevelVerdict::ForeignOwner) {
        LearnOwnOwner();
        if (!ownOwner_.empty())
            verdict = JudgeLevel(information.dwFileAttributes, listed, descriptor.data(), ownOwner_.data(), false);
    }
    switch (verdict) {
    case LevelVerdict::Trusted: return child;
    case LevelVerdict::NotListed: failure = path + L" is not listed in the folder above it"; break;
    case LevelVerdict::Link: failure = path + L" is a link"; break;
    case LevelVerdict::NotFolder: failure = path + L" is not a folder"; break;
    default: failure = path + L" is owned by " + SidText(owner) + L", not by Administrators or SYSTEM"; break;
    }
    return KernelHandle();
}

ProtectedDataFolder::LevelVerdict ProtectedDataFolder::JudgeLevel(DWORD handleAttributes, DWORD listedAttributes,
                                                                  PSECURITY_DESCRIPTOR descriptor, PSID ownOwner,
                                                                  bool mayTakeOver) {
    if (listedAttributes == INVALID_FILE_ATTRIBUTES) return LevelVerdict::NotListed;
    if ((handleAttributes | listedAttributes) & FILE_ATTRIBUTE_REPARSE_POINT) return LevelVerdict::Link;
    if (!IsPlainFolder(handleAttributes)) return LevelVerdict::NotFolder;
    if (!descriptor || IsTrustedOwner(descriptor, ownOwner)) return LevelVerdict::Trusted;
    return mayTakeOver ? LevelVerdict::TakeOver : LevelVerdict::ForeignOwner;
}

bool ProtectedDataFolder::TakeOver(HANDLE parent, const std::wstring& name, KernelHandle& level,
                                   const BY_HANDLE_FILE_INFORMATION& checked, const std::wstring& path,
                                   const std::wstring& formerOwner) {
    // The level checked above, opened again through its parent's handle with the rights to change its
    // owner and list; that it is still the same folder is checked on the new handle. The privileges let
    // an administrator in whatever list its maker gave it.
    EnableTakeOverPrivileges();
    KernelHandle owned;
    bool created = false;
    const DWORD error = OpenChild(parent, name, kLevelAccess | WRITE_DAC | WRITE_OWNER, FILE_OPEN, kLevelOptions,
                                  nullptr, owned, created);
    if (error != ERROR_SUCCESS)
        return Fail(path + L" is owned by " + formerOwner + L" and cannot be taken over (" + ErrorText(error) + L")");
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(owned.Get(), &information) ||
        information.dwVolumeSerialNumber != checked.dwVolumeSerialNumber ||
        information.nFileIndexHigh != checked.nFileIndexHigh || information.nFileIndexLow != checked.nFileIndexLow ||
        JudgeLevel(information.dwFileAttributes, EntryAttributes(parent, name), nullptr, nullptr, false) !=
            LevelVerdict::Trusted)
        return Fail(path + L" changed while it was taken over");
    std::vector<BYTE> protectedSecurity;
    if (!ProtectedSecurity(protectedSecurity) ||
        !SetKernelObjectSecurity(owned.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 protectedSecurity.data()))
        return Fail(path + L" is owned by " + formerOwner + L" and cannot be taken over (" +
                    ErrorText(GetLastError()) + L")");
    level = std::move(owned);
    takenOver_.push_back(path + L" was owned by " + formerOwner +
                         L"; taken over for Administrators, held for this run, and nothing in it was trusted");
    return true;
}

bool ProtectedDataFolder::IsAdministrator() {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) && CheckTokenMembership(nullptr, sid, &member) &&
        member)
        return true;
    size = sizeof sid;
    return CreateWellKnownSid(WinLocalSystemSid, nullptr, sid, &size) && CheckTokenMembership(nullptr, sid, &member) &&
           member;
}

void ProtectedDataFolder::EnableTakeOverPrivileges() {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &rawToken)) return;
    KernelHandle token(rawToken);
    for (const wchar_t* name : {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME, SE_BACKUP_NAME}) {
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
}

KernelHandle ProtectedDataFolder::CreateNewFolder(HANDLE parent, const std::wstring& name, std::wstring& failure) {
    KernelHandle folder;
    std::vector<BYTE> security;
    if (!ProtectedSecurity(security)) {
        failure = L"the security descriptor cannot be built (" + ErrorText(GetLastError()) + L")";
        return folder;
    }
    bool created = false;
    const DWORD error =
        OpenChild(parent, name, kLevelAccess | WRITE_DAC | WRITE_OWNER, FILE_CREATE, kLevelOptions, security.data(),
                  folder, created);
    if (error == ERROR_SUCCESS && created) return folder;
    folder.Close();
    failure = error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                  ? name + L" exists already"
                  : name + L" cannot be made (" + ErrorText(error) + L")";
    return folder;
}

bool ProtectedDataFolder::ProtectedSecurity(std::vector<BYTE>& descriptor) {
    return DescriptorFrom(kProtectedSecurity, descriptor);
}

bool ProtectedDataFolder::IsPlainFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool ProtectedDataFolder::IsTrustedOwner(PSECURITY_DESCRIPTOR descriptor, PSID ownOwner) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !IsValidSid(owner))
        return false;
    if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid)) return true;
    return ownOwner && IsValidSid(ownOwner) && EqualSid(owner, ownOwner);
}
