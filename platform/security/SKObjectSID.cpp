#include "platform/security/SKObjectSID.h"

SKObjectSID::SKObjectSID(SID_IDENTIFIER_AUTHORITY authority) {
    valid_ = AllocateAndInitializeSid(&authority, 1, 0, 0, 0, 0, 0, 0, 0, 0, &sid_) != FALSE;
    if (!valid_) sid_ = nullptr;
}

SKObjectSID::~SKObjectSID() {
    if (sid_) FreeSid(sid_);
}
