#pragma once
#include <windows.h>

#include <memory>

// Owns one access-control list buffer, initialised empty.
class SKObjectDACL {
public:
    explicit SKObjectDACL(DWORD length);
    virtual ~SKObjectDACL() = default;
    SKObjectDACL(const SKObjectDACL&) = delete;
    SKObjectDACL& operator=(const SKObjectDACL&) = delete;

    bool IsValid() const { return valid_; }
    PACL Get() const { return reinterpret_cast<PACL>(acl_.get()); }
    // Appends an entry that allows `sid` everything (GENERIC_ALL).
    bool AddAccessAllowed(PSID sid);

private:
    bool valid_ = false;
    std::unique_ptr<BYTE[]> acl_;
};
