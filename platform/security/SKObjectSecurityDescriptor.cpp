#include "platform/security/SKObjectSecurityDescriptor.h"

#include <cstring>
#include <new>

SKObjectSecurityDescriptor::SKObjectSecurityDescriptor() {
    // The minimum length follows the pointer size: 20 bytes in a 32-bit process, 40 in a 64-bit one.
    descriptor_.reset(new (std::nothrow) BYTE[SECURITY_DESCRIPTOR_MIN_LENGTH]);
    if (!descriptor_) return;
    memset(descriptor_.get(), 0, SECURITY_DESCRIPTOR_MIN_LENGTH);
    valid_ = InitializeSecurityDescriptor(descriptor_.get(), SECURITY_DESCRIPTOR_REVISION) != FALSE;
}

SKObjectSecurityDescriptor::SKObjectSecurityDescriptor(const std::wstring& path) {
    DWORD needed = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) return;
    descriptor_.reset(new (std::nothrow) BYTE[needed]);
    if (!descriptor_) return;
    memset(descriptor_.get(), 0, needed);
    valid_ = GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor_.get(), needed, &needed) != FALSE;
}

PACL SKObjectSecurityDescriptor::GetDacl() {
    dacl_ = nullptr;
    if (!descriptor_ || !GetSecurityDescriptorDacl(descriptor_.get(), &daclPresent_, &dacl_, &daclDefaulted_))
        return nullptr;
    return dacl_;
}
