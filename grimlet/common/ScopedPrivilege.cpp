#include "grimlet/common/ScopedPrivilege.h"

ScopedPrivilege::ScopedPrivilege(const wchar_t* name) {
    if (!token_.OpenOfThisProcess(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY)) return;
    TOKEN_PRIVILEGES wanted = {};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid)) return;
    DWORD size = sizeof previous_;
    // AdjustTokenPrivileges succeeds for a privilege the token lacks and says so only in the last error.
    if (!AdjustTokenPrivileges(token_.Get(), FALSE, &wanted, sizeof previous_, &previous_, &size) ||
        GetLastError() != ERROR_SUCCESS)
        return;
    enabled_ = true;
}

ScopedPrivilege::~ScopedPrivilege() {
    // `previous_` lists only what the call changed: nothing when the privilege was on already.
    if (enabled_ && previous_.PrivilegeCount != 0) AdjustTokenPrivileges(token_.Get(), FALSE, &previous_, 0, nullptr, nullptr);
}
