#include "grimlet/mendrel/FileRemover.h"

#include "platform/system/FileSystemRedirectionGuard.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

constexpr DWORD kClearedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
constexpr ULONG kFileBasicInformation = 4;
constexpr ULONG kFileDispositionInformation = 13;

struct IoStatusBlock {
    union {
        LONG status;
        PVOID pointer;
    };
    ULONG_PTR information;
};

struct FileBasicInformation {
    LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;  // 0: unchanged
    ULONG fileAttributes;
};

typedef LONG(WINAPI* SetInformationFileFn)(HANDLE, IoStatusBlock*, PVOID, ULONG, ULONG);

// Windows XP has no SetFileInformationByHandle; the native call it wraps is in every version's ntdll.
SetInformationFileFn SetInformationFile() {
    static const SetInformationFileFn set = []() -> SetInformationFileFn {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll ? reinterpret_cast<SetInformationFileFn>(
                           reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")))
                     : nullptr;
    }();
    return set;
}

LONG SetAttributes(HANDLE file, DWORD attributes) {
    SetInformationFileFn set = SetInformationFile();
    if (!set) return -1;
    FileBasicInformation basic = {};
    basic.fileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    IoStatusBlock status = {};
    return set(file, &status, &basic, sizeof basic, kFileBasicInformation);
}

}  // namespace

LONG SetOpenFileAttributes(HANDLE file, DWORD attributes) { return SetAttributes(file, attributes); }

LONG MarkOpenFileForDeletion(HANDLE file) {
    SetInformationFileFn set = SetInformationFile();
    if (!set) return -1;
    BOOLEAN deleteFile = TRUE;
    IoStatusBlock status = {};
    return set(file, &status, &deleteFile, sizeof deleteFile, kFileDispositionInformation);
}

FileRemover::Opened FileRemover::Open(const std::wstring& path) {
    path_ = path;
    HANDLE handle;
    {
        FileSystemRedirectionGuard redirection;
        const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN;
        handle = CreateFileW(path.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags, nullptr);
        openError_ = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        canDelete_ = handle != INVALID_HANDLE_VALUE;
        // Somebody (the worm) holds the file without sharing its deletion: it can still be read and
        // copied, and goes at the next restart.
        if (openError_ == ERROR_SHARING_VIOLATION) {
            handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, flags, nullptr);
            if (handle != INVALID_HANDLE_VALUE) openError_ = ERROR_SUCCESS;
        }
    }
    file_.Attach(handle);
    if (!file_.IsValid()) {
        TW_LOG(LogLevel::Warning, "CreateFileW(%S) for removal Error=%d", path.c_str(), (int)openError_);
        if (openError_ == ERROR_FILE_NOT_FOUND || openError_ == ERROR_PATH_NOT_FOUND) return Opened::Missing;
        return Opened::Unreadable;
    }
    if (!GetFileInformationByHandle(file_.Get(), &identity_)) {
        openError_ = GetLastError();
        file_.Close();
        return Opened::Unreadable;
    }
    attributes_ = identity_.dwFileAttributes;
    if (attributes_ & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        TW_LOG(LogLevel::Error, "%S is a folder or a link, not a DLL; refused", path.c_str());
        file_.Close();
        return Opened::Refused;
    }
    return Opened::Yes;
}

bool FileRemover::SamePathSameFile(KernelHandle& again) const {
    FileSystemRedirectionGuard redirection;
    again.Attach(CreateFileW(path_.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION now = {};
    return again.IsValid() && GetFileInformationByHandle(again.Get(), &now) &&
           now.dwVolumeSerialNumber == identity_.dwVolumeSerialNumber && now.nFileIndexHigh == identity_.nFileIndexHigh &&
           now.nFileIndexLow == identity_.nFileIndexLow && !(now.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

FileRemoval FileRemover::Remove() {
    if (!file_.IsValid()) return FileRemoval::Failed;
    HANDLE clearedThrough = nullptr;  // the handle the attributes were cleared through, to put them back
    LONG status = static_cast<LONG>(0xC0000043L);  // STATUS_SHARING_VIOLATION: the handle may not delete
    if (canDelete_ && (attributes_ & kClearedAttributes)) {
        LONG set = SetAttributes(file_.Get(), attributes_ & ~kClearedAttributes);
        if (set >= 0) clearedThrough = file_.Get();
        if (!clearedThrough)
            TW_LOG(LogLevel::Warning, "Clearing the attributes of %S Status=0x%08X", path_.c_str(), (unsigned)set);
    }
    if (canDelete_) status = MarkOpenFileForDeletion(file_.Get());
    if (canDelete_ && status >= 0) {
        file_.Close();
        TW_LOG(LogLevel::Info, "Deleted %S", path_.c_str());
        return FileRemoval::Deleted;
    }
    // A loaded image cannot be deleted while it is mapped; the name goes at the next restart, and only
    // while it still names the file that was copied (whose attributes no longer keep it).
    KernelHandle again;
    if (SamePathSameFile(again)) {
        if (!clearedThrough && (attributes_ & kClearedAttributes) &&
            SetAttributes(again.Get(), attributes_ & ~kClearedAttributes) >= 0)
            clearedThrough = again.Get();
        FileSystemRedirectionGuard redirection;
        if (MoveFileExW(path_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            TW_LOG(LogLevel::Info, "Deleting %S Status=0x%08X; deleted at restart", path_.c_str(), (unsigned)status);
            return FileRemoval::DeletedAtRestart;
        }
    }
    TW_LOG(LogLevel::Error, "Deleting %S Status=0x%08X; not scheduled either (Error=%d)", path_.c_str(), (unsigned)status,
           (int)GetLastError());
    if (clearedThrough) SetAttributes(clearedThrough, attributes_);
    return FileRemoval::Failed;
}
