#include "app/SingleRunGuard.h"

#include <windows.h>
#include <sddl.h>

#include "platform/win32/LocalMemory.h"

const wchar_t SingleRunGuard::kName[] = L"Global\\Quorvel.Tidewash.Run";

namespace {

const wchar_t kMutexSecurity[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";

}  // namespace

SingleRunGuard::SingleRunGuard() {
    LocalMemory<PSECURITY_DESCRIPTOR> security;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kMutexSecurity, SDDL_REVISION_1, security.Receive(),
                                                              nullptr))
        return;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.Get(), FALSE};
    mutex_.Attach(CreateMutexW(&attributes, FALSE, kName));
    onlyRun_ = mutex_.IsValid() && GetLastError() != ERROR_ALREADY_EXISTS;
}
