#include "platform/access/SKSmartFD.h"

#include "platform/access/SKApi.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"SKSmartFD";

SmartFD::SmartFD(const wchar_t* path) {
    handle_ = SKApi::Instance()->file->CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ != INVALID_HANDLE_VALUE) return;

    openError_ = GetLastError();
    lockOpened_ = true;
    TW_LOG(LogLevel::Warning, "SmartFD::SmartFD() CreateFileW(%S) Error=%d", path, static_cast<int>(openError_));
    handle_ = SKApi::Instance()->file->OpenLockFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        TW_LOG(LogLevel::Warning, "SmartFD::SmartFD() OpenLockFileW(%S) Error=%d", path,
               static_cast<int>(GetLastError()));
    }
}

SmartFD::~SmartFD() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    if (lockOpened_)
        SKApi::Instance()->file->CloseLockFile(handle_);
    else
        SKApi::Instance()->file->CloseHandle(handle_);
}

DWORD SmartFD::Size() const {
    // A lock-opened handle may only be understood by the access mode that opened it.
    if (lockOpened_) return SKApi::Instance()->file->GetFileSize(handle_, nullptr);
    return ::GetFileSize(handle_, nullptr);
}

bool SmartFD::Read(void* buffer, DWORD bufferSize, DWORD* bytesRead) const {
    DWORD ask = bufferSize < kBlockSize ? bufferSize : kBlockSize;
    DWORD got = 0;
    BOOL ok = lockOpened_ ? SKApi::Instance()->file->ReadFile(handle_, buffer, ask, &got, nullptr)
                          : ::ReadFile(handle_, buffer, ask, &got, nullptr);
    if (bytesRead) *bytesRead = got;
    return ok != FALSE;
}
