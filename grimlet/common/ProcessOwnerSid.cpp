#include "grimlet/common/ProcessOwnerSid.h"

#include <aclapi.h>

namespace {

class ProcessOwner {
public:
    ProcessOwner() {
        if (GetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner_, nullptr,
                            nullptr, nullptr, &descriptor_) != ERROR_SUCCESS) {
            owner_ = nullptr;
            descriptor_ = nullptr;
        }
    }
    ~ProcessOwner() {
        if (descriptor_) LocalFree(descriptor_);
    }
    ProcessOwner(const ProcessOwner&) = delete;
    ProcessOwner& operator=(const ProcessOwner&) = delete;
    PSID Sid() const { return owner_; }

private:
    PSID owner_ = nullptr;
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

}  // namespace

PSID ProcessOwnerSid() {
    static ProcessOwner owner;
    return owner.Sid();
}
