#pragma once
#include <windows.h>

#include <string>

// The absolute form of `path`; empty when the system cannot resolve it.
std::wstring GetFullPath(const std::wstring& path);

// True when `path` is empty, cannot be resolved, or resolves to the root of a drive or share ("C:\",
// "\\server\share"): never a folder of our own, so never one to empty or to unpack into.
bool IsEmptyOrVolumeRoot(const std::wstring& path);

// Removes the folder and everything below it; read-only entries are made writable first. A reparse
// point (junction, directory link) is removed as a link: the tree it points to is never entered.
// Stops at the first failure and returns false. Refuses (false, nothing touched) an empty path or the
// root of a drive: an empty path would otherwise be read as the root of the current drive.
bool RemoveDirectoryRecursiveW(const std::wstring& path);

// How RemoveDirectoryRecursiveW treats one directory entry, decided from its attributes alone.
enum class RemoveAction { DeleteFile, RemoveTree, RemoveLinkOnly };
RemoveAction ClassifyForRemoval(DWORD attributes);

// Creates every folder along `path` ("\" and "/" both separate). A leading drive ("C:") is skipped.
bool CreateDirectoryRecursive(const std::wstring& path, bool continueOnError);

// Switches the current directory for a scope and switches back if the switch succeeded.
class CurrentDirectoryGuard {
public:
    explicit CurrentDirectoryGuard(const std::wstring& path);
    ~CurrentDirectoryGuard();
    CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
    CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;
    bool Switched() const { return switched_; }

private:
    std::wstring previous_;
    bool switched_ = false;
};
