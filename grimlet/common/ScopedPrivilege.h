#pragma once
#include <windows.h>

#include "platform/win32/TokenHandle.h"

// Turns one privilege of the process token on for the life of the object and then back to what it was:
// a privilege such as SeBackupPrivilege lets every later open in the process pass the keys' access
// lists, so it is on only while the code that needs it runs.
class ScopedPrivilege {
public:
    explicit ScopedPrivilege(const wchar_t* name);
    ~ScopedPrivilege();
    ScopedPrivilege(const ScopedPrivilege&) = delete;
    ScopedPrivilege& operator=(const ScopedPrivilege&) = delete;

    // False when the token does not hold the privilege or it cannot be switched.
    bool Enabled() const { return enabled_; }

private:
    TokenHandle token_;
    TOKEN_PRIVILEGES previous_ = {};
    bool enabled_ = false;
};
