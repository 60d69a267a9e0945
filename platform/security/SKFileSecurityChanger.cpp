#include "platform/security/SKFileSecurityChanger.h"

#include "platform/security/SKObjectDACL.h"
#include "platform/security/SKObjectSID.h"

SKFileSecurityChanger::SKFileSecurityChanger(const std::wstring& path) : path_(path), saved_(path) {}

SKFileSecurityChanger::~SKFileSecurityChanger() {
    if (changed_) SetFileSecurityW(path_.c_str(), DACL_SECURITY_INFORMATION, saved_.Get());
}

bool SKFileSecurityChanger::Grant() {
    if (!saved_.IsValid()) return false;

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SKObjectSID everyone(world);
    if (!everyone.IsValid()) return false;

    // The ACL header and one access-allowed entry whose SID part is the SID itself.
    const DWORD aclLength = GetLengthSid(everyone.Get()) + sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    SKObjectDACL dacl(aclLength);
    if (!dacl.IsValid() || !dacl.AddAccessAllowed(everyone.Get())) return false;

    SKObjectSecurityDescriptor descriptor;
    if (!descriptor.IsValid() || !SetSecurityDescriptorDacl(descriptor.Get(), TRUE, dacl.Get(), FALSE)) return false;

    if (SetFileSecurityW(path_.c_str(), DACL_SECURITY_INFORMATION, descriptor.Get())) changed_ = true;
    return changed_;
}
