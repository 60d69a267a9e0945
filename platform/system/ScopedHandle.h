#pragma once
#include <windows.h>

// Owns one kernel handle (file, device, event, token) and closes it at scope end. Both null and
// INVALID_HANDLE_VALUE mean "none", since Win32 uses either depending on the function.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    // For functions that hand a handle out through a pointer (OpenProcessToken and the like).
    HANDLE* Receive() {
        Close();
        return &handle_;
    }
    void Reset(HANDLE handle) {
        Close();
        handle_ = handle;
    }
    // False when the system refused to close: a writer learns that its data may not have reached the file.
    bool Close() {
        const bool closed = !IsValid() || CloseHandle(handle_) != FALSE;
        handle_ = nullptr;
        return closed;
    }

private:
    HANDLE handle_;
};
