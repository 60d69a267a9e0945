#include "platform/system/FileUtility.h"

#include <vector>

#include "platform/log/Logger.h"
#include "platform/win32/FindHandle.h"

static const wchar_t kLogSource[] = L"FileUtility";

std::wstring GetFullPath(const std::wstring& path) {
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::wstring();
    std::vector<wchar_t> buffer(needed);
    DWORD got = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
    if (got == 0 || got >= needed) return std::wstring();
    return std::wstring(buffer.data(), got);
}

namespace {

// Told apart for debugging; callers only see false.
enum class ErrorTypeRemoveDirectoryRecursive { None, ClearAttribute, DeleteFile, RemoveSubfolder, RemoveFolder };

bool IsDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

ErrorTypeRemoveDirectoryRecursive RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    {
        FindHandle find(FindFirstFileW((path + L"\\*").c_str(), &entry));
        if (!find.IsValid()) return ErrorTypeRemoveDirectoryRecursive::RemoveFolder;
        do {
            if (IsDotOrDotDot(entry.cFileName)) continue;
            std::wstring full = path + L"\\" + entry.cFileName;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
                if (!SetFileAttributesW(full.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY))
                    return ErrorTypeRemoveDirectoryRecursive::ClearAttribute;
            }
            switch (ClassifyForRemoval(entry.dwFileAttributes)) {
            case RemoveAction::DeleteFile:
                if (!DeleteFileW(full.c_str())) return ErrorTypeRemoveDirectoryRecursive::DeleteFile;
                break;
            case RemoveAction::RemoveLinkOnly:
                // RemoveDirectoryW on a directory reparse point removes the link, not the target's content.
                if (!RemoveDirectoryW(full.c_str())) return ErrorTypeRemoveDirectoryRecursive::RemoveSubfolder;
                break;
            case RemoveAction::RemoveTree:
                if (RemoveTree(full) != ErrorTypeRemoveDirectoryRecursive::None)
                    return ErrorTypeRemoveDirectoryRecursive::RemoveSubfolder;
                break;
            }
        } while (FindNextFileW(find.Get(), &entry));
    }
    if (!RemoveDirectoryW(path.c_str())) return ErrorTypeRemoveDirectoryRecursive::RemoveFolder;
    return ErrorTypeRemoveDirectoryRecursive::None;
}

}  // namespace

RemoveAction ClassifyForRemoval(DWORD attributes) {
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RemoveAction::DeleteFile;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveAction::RemoveLinkOnly;
    return RemoveAction::RemoveTree;
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Length of the root part of a full path: "C:\", "\\server\share\", with the "\\?\" and "\\.\" forms.
std::size_t RootLength(const std::wstring& full) {
    std::size_t at = 0;
    bool unc = false;
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) {
        at = 4;
        if (full.size() >= at + 4 && _wcsnicmp(full.c_str() + at, L"UNC\\", 4) == 0) {
            at += 4;
            unc = true;
        }
    } else if (full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1])) {
        at = 2;
        unc = true;
    }
    if (unc) {
        // Server and share: both belong to the root.
        for (int component = 0; component < 2; ++component) {
            while (at < full.size() && !IsSeparator(full[at])) ++at;
            while (at < full.size() && IsSeparator(full[at])) ++at;
        }
        return at;
    }
    if (full.size() >= at + 2 && full[at + 1] == L':') at += 2;
    while (at < full.size() && IsSeparator(full[at])) ++at;
    return at;
}

}  // namespace

bool IsEmptyOrVolumeRoot(const std::wstring& path) {
    if (path.empty()) return true;
    const std::wstring full = GetFullPath(path);
    if (full.empty()) return true;
    return RootLength(full) >= full.size();
}

bool RemoveDirectoryRecursiveW(const std::wstring& path) {
    if (IsEmptyOrVolumeRoot(path)) {
        TW_LOG(LogLevel::Error, "RemoveDirectoryRecursiveW(%S) refused: not a folder of its own", path.c_str());
        return false;
    }
    // The top folder itself may be a link: remove the link and leave its target alone.
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return RemoveDirectoryW(path.c_str()) != FALSE;
    }
    return RemoveTree(path) == ErrorTypeRemoveDirectoryRecursive::None;
}

bool CreateDirectoryRecursive(const std::wstring& path, bool continueOnError) {
    bool first = true;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\' && path[i] != L'/') continue;
        std::wstring prefix = path.substr(0, i);
        bool isDrive = first && !prefix.empty() && prefix.back() == L':';
        first = false;
        if (isDrive) continue;
        if (!CreateDirectoryW(prefix.c_str(), nullptr)) {
            DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS) {
                TW_LOG(LogLevel::Warning, "CreateDirectoryW(%S) error=%d", prefix.c_str(), static_cast<int>(error));
                if (!continueOnError) return false;
            }
        }
    }
    return true;
}

CurrentDirectoryGuard::CurrentDirectoryGuard(const std::wstring& path) {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed > 0) {
        std::vector<wchar_t> buffer(needed);
        DWORD got = GetCurrentDirectoryW(needed, buffer.data());
        if (got > 0 && got < needed) previous_.assign(buffer.data(), got);
    }
    if (!path.empty()) switched_ = SetCurrentDirectoryW(path.c_str()) != FALSE;
}

CurrentDirectoryGuard::~CurrentDirectoryGuard() {
    if (switched_ && !previous_.empty()) SetCurrentDirectoryW(previous_.c_str());
}
