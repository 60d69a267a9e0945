#pragma once
#include <windows.h>

// Owns one SID with a single sub-authority of value 0, such as S-1-1-0 (everyone) for the world
// authority.
class SKObjectSID {
public:
    explicit SKObjectSID(SID_IDENTIFIER_AUTHORITY authority);
    virtual ~SKObjectSID();
    SKObjectSID(const SKObjectSID&) = delete;
    SKObjectSID& operator=(const SKObjectSID&) = delete;

    bool IsValid() const { return valid_; }
    PSID Get() const { return sid_; }

private:
    bool valid_ = false;
    PSID sid_ = nullptr;
};
