#include "platform/system/SKEnvironment.h"

#include <clocale>
#include <vector>

#include "platform/access/SKApi.h"
#include "platform/log/Logger.h"
#include "platform/system/FileUtility.h"
#include "platform/system/SKFilterDriver.h"
#include "platform/win32/TokenHandle.h"

static const wchar_t kLogSource[] = L"SKEnvironment";

namespace {

std::wstring CurrentDirectory() {
    // Asked for its length first: a work folder deeper than MAX_PATH must not come back cut or empty.
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return std::wstring();
    std::vector<wchar_t> buffer(needed);
    DWORD got = GetCurrentDirectoryW(needed, buffer.data());
    if (got == 0 || got >= needed) return std::wstring();
    return std::wstring(buffer.data(), got);
}

}  // namespace

SKEnvironment* SKEnvironment::Instance() {
    static SKEnvironment instance;
    return &instance;
}

int SKEnvironment::Setup() {
    if (setupCount_++ > 0) return 1;

    // "%S" in log lines and other wide-to-8-bit conversions then follow the user's code page.
    setlocale(LC_ALL, "");

    SettleFolders();
    if (!CreateDirectoryRecursive(logFolder_, false)) {
        TW_LOG(LogLevel::Error, "SKEnvironment::Setup() create log folder(%S) Error=%d", logFolder_.c_str(),
               static_cast<int>(GetLastError()));
    }

    SKApi::Instance();
    return 1;
}

void SKEnvironment::SettleFolders() {
    // Start-up has made the work folder the current directory.
    if (baseFolder_.empty()) baseFolder_ = CurrentDirectory();
    if (patternFolder_.empty()) patternFolder_ = baseFolder_ + L"\\pattern";
    profileFolder_ = baseFolder_ + L"\\profile";
    if (logFolder_.empty()) logFolder_ = baseFolder_ + L"\\log";
}

void SKEnvironment::Teardown() {
    if (setupCount_ <= 0) return;
    if (--setupCount_ > 0) return;
    SKFilterDriver::SendDeregistration();
    SKApi::Destroy();
}

bool SKEnvironment::SetPrivilege(const wchar_t* name) {
    std::wstring context = std::wstring(L"SKEnvironment::SetPrivilege(") + (name ? name : L"") + L")";

    TokenHandle token;
    if (!token.OpenOfThisProcess(TOKEN_ADJUST_PRIVILEGES)) {
        TW_LOG(LogLevel::Error, "%S OpenProcessToken() Error = %d", context.c_str(), static_cast<int>(GetLastError()));
        return false;
    }

    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!name || !LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
        if (!name) SetLastError(ERROR_INVALID_PARAMETER);
        TW_LOG(LogLevel::Error, "%S LookupPrivilegeValue() Error = %d", context.c_str(),
               static_cast<int>(GetLastError()));
        return false;
    }

    // AdjustTokenPrivileges also "succeeds" for a privilege the token does not hold; only the last
    // error (ERROR_NOT_ALL_ASSIGNED) tells, and then nothing was enabled.
    BOOL adjusted = AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    DWORD error = GetLastError();
    if (!adjusted || error == ERROR_NOT_ALL_ASSIGNED) {
        TW_LOG(LogLevel::Error, "%S AdjustTokenPrivileges() Error = %d", context.c_str(), static_cast<int>(error));
        return false;
    }
    return true;
}
