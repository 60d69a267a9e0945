#include "platform/security/SKObjectDACL.h"

#include <cstring>
#include <new>

SKObjectDACL::SKObjectDACL(DWORD length) {
    if (length < sizeof(ACL)) return;
    acl_.reset(new (std::nothrow) BYTE[length]);
    if (!acl_) return;
    memset(acl_.get(), 0, length);
    valid_ = InitializeAcl(Get(), length, ACL_REVISION) != FALSE;
}

bool SKObjectDACL::AddAccessAllowed(PSID sid) {
    if (!valid_ || !sid) return false;
    return AddAccessAllowedAce(Get(), ACL_REVISION, GENERIC_ALL, sid) != FALSE;
}
