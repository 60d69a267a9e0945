#pragma once
#include <windows.h>

#include <string>

#include "platform/win32/KernelHandle.h"

enum class FileRemoval { Deleted, DeletedAtRestart, Failed };

// The worm DLL, opened once: everything the engine does to the file - reading its attributes, copying
// it, deleting it - goes through this one handle, so that a file swapped in under the same name is never
// the one acted on. The handle lets others read the file but not write it, so the bytes copied are the
// bytes deleted. A file somebody holds without sharing its deletion is opened for reading only, copied,
// and deleted at the next restart. A link (reparse point) or a folder under that name is refused.
class FileRemover {
public:
    enum class Opened { Yes, Missing, Unreadable, Refused };

    Opened Open(const std::wstring& path);
    HANDLE Handle() const { return file_.Get(); }
    DWORD Attributes() const { return attributes_; }
    DWORD OpenError() const { return openError_; }

    // Clears the hidden, read-only and system attributes and marks the opened file for deletion, which
    // happens when the handle closes. A file the system will not let go of now (a loaded image) is
    // deleted at the next restart, once the path is proven to name this same file still. The attributes
    // come back when neither works.
    FileRemoval Remove();

private:
    // Opens the path again (for its attributes only) into `again`: true when it still names the opened
    // file and no link.
    bool SamePathSameFile(KernelHandle& again) const;

    std::wstring path_;
    KernelHandle file_;
    DWORD attributes_ = 0;
    BY_HANDLE_FILE_INFORMATION identity_ = {};
    DWORD openError_ = ERROR_SUCCESS;
    bool canDelete_ = false;  // the handle holds DELETE and FILE_WRITE_ATTRIBUTES
};

// Sets the attributes of a file open with FILE_WRITE_ATTRIBUTES (0 stands for none); the native status.
LONG SetOpenFileAttributes(HANDLE file, DWORD attributes);

// Marks a file open with DELETE access for deletion when its last handle closes; the native status.
LONG MarkOpenFileForDeletion(HANDLE file);
