#include "platform/access/SKDirEnum.h"

#include <cwchar>
#include <new>

#include "platform/access/LongPath.h"
#include "platform/access/SKApi.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"SKDirEnum";

namespace {

constexpr DWORD kDirectoryReparsePoint = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

}  // namespace

EnumFindImpl::EnumFindImpl(const std::wstring& folder, const std::wstring& pattern) : pattern_(pattern) {
    folder_.reserve(MAX_PATH);
    folder_ = folder;
    if (!folder_.empty() && folder_.back() == L'\\') folder_.pop_back();
}

EnumFindImpl::~EnumFindImpl() {
    CloseSearch();
    changer_.reset();  // writes the folder's saved DACL back
}

bool EnumFindImpl::IsSkipped(const wchar_t* name, DWORD attributes) {
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) return true;
    return (attributes & kDirectoryReparsePoint) == kDirectoryReparsePoint;
}

void EnumFindImpl::CloseSearch() {
    if (findHandle_ == INVALID_HANDLE_VALUE) return;
    SKApi::Instance()->file->FindClose(findHandle_);
    findHandle_ = INVALID_HANDLE_VALUE;
}

bool EnumFindImpl::FindFirst(const std::wstring& searchPath, WIN32_FIND_DATAW& data) {
    findHandle_ = SKApi::Instance()->file->FindFirstFileW(searchPath.c_str(), &data);
    return findHandle_ != INVALID_HANDLE_VALUE;
}

bool EnumFindImpl::First(std::wstring& fullPath, DWORD& attributes, uint64_t& size) {
    CloseSearch();  // a second First starts over instead of leaking the previous search
    // The search path gets the long form too: a folder just short of the limit plus "\*" would
    // otherwise not be listed at all.
    const std::wstring searchPath = EnsureLongPathPrefix(folder_ + L"\\" + pattern_);
    WIN32_FIND_DATAW data;
    bool found = FindFirst(searchPath, data);
    if (!found && GetLastError() == ERROR_ACCESS_DENIED) {
        changer_.reset();  // restores the DACL a previous First opened
        changer_.reset(new (std::nothrow) SKFileSecurityChanger(folder_));
        if (!changer_ || !changer_->Grant()) {
            TW_LOG(LogLevel::Info, "%s Error %d in SKFileSecurityChanger(%S)", "EnumFindImpl::First()",
                   (int)GetLastError(), folder_.c_str());
            return false;
        }
        found = FindFirst(searchPath, data);
    }
    if (!found) {
        TW_LOG(LogLevel::Info, "%s Error %d FindFirst(%S)", "EnumFindImpl::First()", (int)GetLastError(),
               searchPath.c_str());
        return false;
    }
    if (IsSkipped(data.cFileName, data.dwFileAttributes) && !SkipToVisible(data)) return false;
    Emit(data, fullPath, attributes, size);
    return true;
}

bool EnumFindImpl::Next(std::wstring& fullPath, DWORD& attributes, uint64_t& size) {
    WIN32_FIND_DATAW data;
    if (!SkipToVisible(data)) return false;
    Emit(data, fullPath, attributes, size);
    return true;
}

bool EnumFindImpl::SkipToVisible(WIN32_FIND_DATAW& data) {
    if (findHandle_ == INVALID_HANDLE_VALUE) return false;
    do {
        if (!SKApi::Instance()->file->FindNextFileW(findHandle_, &data)) return false;
    } while (IsSkipped(data.cFileName, data.dwFileAttributes));
    return true;
}

void EnumFindImpl::Emit(const WIN32_FIND_DATAW& data, std::wstring& fullPath, DWORD& attributes,
                        uint64_t& size) const {
    fullPath = EnsureLongPathPrefix(folder_ + L"\\" + data.cFileName);
    attributes = data.dwFileAttributes;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

DirEnumPtr CreateDirEnum(const std::wstring& folder, const std::wstring& pattern) {
    SKApi::Instance();
    return std::make_shared<EnumFindImpl>(folder, pattern);
}

bool First(const DirEnumPtr& dirEnum, std::wstring& fullPath, DWORD& attributes, uint64_t& size) {
    return dirEnum && dirEnum->First(fullPath, attributes, size);
}

bool Next(const DirEnumPtr& dirEnum, std::wstring& fullPath, DWORD& attributes, uint64_t& size) {
    return dirEnum && dirEnum->Next(fullPath, attributes, size);
}
