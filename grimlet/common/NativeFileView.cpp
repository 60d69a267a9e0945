#include "grimlet/common/NativeFileView.h"

#include "platform/system/FileSystemRedirectionGuard.h"

DWORD NativeFileAttributes(const std::wstring& path) {
    FileSystemRedirectionGuard nativeView;
    return GetFileAttributesW(path.c_str());
}

NativeFile::NativeFile(const std::wstring& path, DWORD access) {
    FileSystemRedirectionGuard nativeView;
    handle_.Attach(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle_.IsValid()) openError_ = GetLastError();
}
