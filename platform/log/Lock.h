#pragma once
#include <windows.h>

// The abstract lock shared by the few places that need one (the log file, the drive cache).
class CLock {
public:
    virtual ~CLock() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

class CCriticalSectionLock final : public CLock {
public:
    CCriticalSectionLock() { InitializeCriticalSection(&section_); }
    ~CCriticalSectionLock() override { DeleteCriticalSection(&section_); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;
    void Lock() override { EnterCriticalSection(&section_); }
    void Unlock() override { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class CLockGuard {
public:
    explicit CLockGuard(CLock& lock) : lock_(lock) { lock_.Lock(); }
    ~CLockGuard() { lock_.Unlock(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CLock& lock_;
};

// A lock created on first use and kept until the process ends, so that it can be taken from
// destructors of other process-wide objects in any order.
template <typename Tag>
CLock& ProcessLock() {
    static CLock* lock = new CCriticalSectionLock();
    return *lock;
}
