#include "grimlet/common/ProcessOwnerSid.h"

#include <aclapi.h>

#include "platform/win32/LocalMemory.h"

namespace {

class ProcessOwner {
public:
    ProcessOwner() {
        if (GetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner_, nullptr,
                            nullptr, nullptr, descriptor_.Receive()) != ERROR_SUCCESS) {
            owner_ = nullptr;
            descriptor_.Detach();
        }
    }
    ProcessOwner(const ProcessOwner&) = delete;
    ProcessOwner& operator=(const ProcessOwner&) = delete;
    PSID Sid() const { return owner_; }

private:
    PSID owner_ = nullptr;
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor_;  // holds what owner_ points into
};

}  // namespace

PSID ProcessOwnerSid() {
    static ProcessOwner owner;
    return owner.Sid();
}
