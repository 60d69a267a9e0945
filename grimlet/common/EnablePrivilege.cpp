#include "grimlet/common/EnablePrivilege.h"

#include <windows.h>

#include "platform/win32/TokenHandle.h"

bool EnablePrivilege(const wchar_t* name) {
    TokenHandle token;
    if (!token.OpenOfThisProcess(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY) || !name) return false;
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
}
