#pragma once
#include <windows.h>

// A read-only file handle on the access layer, for reading a file front to back in blocks. Opens with
// the normal open first and, when that is refused, tries the access layer's lock-open. Never throws:
// callers test IsValid().
class SmartFD {
public:
    static const DWORD kBlockSize = 262144;  // one read asks for at most 256 KiB

    explicit SmartFD(const wchar_t* path);
    ~SmartFD();
    SmartFD(const SmartFD&) = delete;
    SmartFD& operator=(const SmartFD&) = delete;

    bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // The system error of the refused normal open; 0 when it succeeded.
    DWORD LastError() const { return openError_; }
    // True when the normal open was refused and the lock-open was tried (whatever its outcome).
    bool LockOpened() const { return lockOpened_; }
    // The low 32 bits of the file size (INVALID_FILE_SIZE on failure).
    DWORD Size() const;
    // Reads the next block: min(bufferSize, kBlockSize) bytes are asked for. 0 bytes read means the end.
    bool Read(void* buffer, DWORD bufferSize, DWORD* bytesRead) const;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool lockOpened_ = false;
    DWORD openError_ = 0;
};
