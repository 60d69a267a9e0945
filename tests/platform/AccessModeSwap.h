#pragma once
// Test doubles for the file access layer: a mode that forwards every operation to another one (tests
// override the few they want to change) and a guard that puts a mode under all callers for a scope.
#include <windows.h>

#include "platform/access/SKApi.h"

namespace testsupport {

class ForwardingApiFile : public SKApiFile {
public:
    explicit ForwardingApiFile(SKApiFile& real) : real_(real) {}

    HANDLE CreateFileW(LPCWSTR n, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) override {
        return real_.CreateFileW(n, a, s, sa, d, f, t);
    }
    BOOL CloseHandle(HANDLE h) override { return real_.CloseHandle(h); }
    HANDLE OpenLockFileW(LPCWSTR n, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) override {
        return real_.OpenLockFileW(n, a, s, sa, d, f, t);
    }
    BOOL CloseLockFile(HANDLE h) override { return real_.CloseLockFile(h); }
    BOOL ReadFile(HANDLE f, LPVOID b, DWORD n, LPDWORD got, LPOVERLAPPED o) override {
        return real_.ReadFile(f, b, n, got, o);
    }
    DWORD SetFilePointer(HANDLE f, LONG d, PLONG h, DWORD m) override { return real_.SetFilePointer(f, d, h, m); }
    DWORD GetFileSize(HANDLE f, LPDWORD h) override { return real_.GetFileSize(f, h); }
    BOOL DeleteFileW(LPCWSTR n) override { return real_.DeleteFileW(n); }
    ULONG_PTR LowLevelQuery(ULONG_PTR r) override { return real_.LowLevelQuery(r); }
    DWORD GetFileAttributesW(LPCWSTR n) override { return real_.GetFileAttributesW(n); }
    BOOL CopyFileW(LPCWSTR a, LPCWSTR b, BOOL f) override { return real_.CopyFileW(a, b, f); }
    BOOL MoveFileW(LPCWSTR a, LPCWSTR b) override { return real_.MoveFileW(a, b); }
    HANDLE FindFirstFileW(LPCWSTR n, LPWIN32_FIND_DATAW d) override { return real_.FindFirstFileW(n, d); }
    BOOL FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW d) override { return real_.FindNextFileW(h, d); }
    BOOL FindClose(HANDLE h) override { return real_.FindClose(h); }
    BOOL RemoveFileW(LPCWSTR n) override { return real_.RemoveFileW(n); }

protected:
    ~ForwardingApiFile() = default;
    SKApiFile& real_;
};

class AccessModeSwap {
public:
    explicit AccessModeSwap(SKApiFile* mode) : previous_(SKApi::Instance()->file) { SKApi::Instance()->file = mode; }
    ~AccessModeSwap() { SKApi::Instance()->file = previous_; }
    AccessModeSwap(const AccessModeSwap&) = delete;
    AccessModeSwap& operator=(const AccessModeSwap&) = delete;

private:
    SKApiFile* previous_;
};

}  // namespace testsupport
