#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/security/SKFileSecurityChanger.h"

// Lists the entries of one folder that match a wildcard pattern, through the file access layer. It hides
// ".", ".." and directory reparse points (junctions, directory links) so that a walker never follows
// them, hands out full paths that stay usable beyond 260 characters, and gets past a folder whose DACL
// refuses listing by opening that DACL until the enumerator is destroyed.
class EnumFindImpl {
public:
    EnumFindImpl(const std::wstring& folder, const std::wstring& pattern);
    virtual ~EnumFindImpl();
    EnumFindImpl(const EnumFindImpl&) = delete;
    EnumFindImpl& operator=(const EnumFindImpl&) = delete;

    // Starts the search; false (logged at Info) when the folder cannot be listed, false without a line
    // when it holds nothing but "." and "..".
    bool First(std::wstring& fullPath, DWORD& attributes, uint64_t& size);
    // The next entry; false at the end (not logged).
    bool Next(std::wstring& fullPath, DWORD& attributes, uint64_t& size);

    // The entries a walker must never see, decided from the name and attributes alone.
    static bool IsSkipped(const wchar_t* name, DWORD attributes);

    const std::wstring& Folder() const { return folder_; }
    const std::wstring& Pattern() const { return pattern_; }
    // True while the folder's DACL is opened for this enumerator.
    bool OpenedDacl() const { return changer_ && changer_->Changed(); }

private:
    bool FindFirst(const std::wstring& searchPath, WIN32_FIND_DATAW& data);
    bool SkipToVisible(WIN32_FIND_DATAW& data);
    void Emit(const WIN32_FIND_DATAW& data, std::wstring& fullPath, DWORD& attributes, uint64_t& size) const;
    void CloseSearch();

    std::wstring folder_;
    std::wstring pattern_;
    HANDLE findHandle_ = INVALID_HANDLE_VALUE;
    std::unique_ptr<SKFileSecurityChanger> changer_;
    bool lowLevel_ = false;  // the Win32 access mode is the only one
};

using DirEnumPtr = std::shared_ptr<EnumFindImpl>;

// A new enumerator for `pattern` in `folder` (also makes sure the file access layer exists).
DirEnumPtr CreateDirEnum(const std::wstring& folder, const std::wstring& pattern);

// The enumerator's First/Next; a null enumerator gives false.
bool First(const DirEnumPtr& dirEnum, std::wstring& fullPath, DWORD& attributes, uint64_t& size);
bool Next(const DirEnumPtr& dirEnum, std::wstring& fullPath, DWORD& attributes, uint64_t& size);
