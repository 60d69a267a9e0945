#pragma once
#include <windows.h>

#include <memory>
#include <string>

// Owns one security descriptor buffer: either an empty absolute descriptor to be filled in, or the DACL
// part of a file-system object's descriptor as the system reports it.
class SKObjectSecurityDescriptor {
public:
    // An empty absolute descriptor.
    SKObjectSecurityDescriptor();
    // The DACL part of the descriptor of the file or folder at `path`.
    explicit SKObjectSecurityDescriptor(const std::wstring& path);
    virtual ~SKObjectSecurityDescriptor() = default;
    SKObjectSecurityDescriptor(const SKObjectSecurityDescriptor&) = delete;
    SKObjectSecurityDescriptor& operator=(const SKObjectSecurityDescriptor&) = delete;

    bool IsValid() const { return valid_; }
    PSECURITY_DESCRIPTOR Get() const { return descriptor_.get(); }
    // The DACL (null for a NULL DACL, or when the query fails); the flags are kept for DaclPresent().
    PACL GetDacl();
    bool DaclPresent() const { return daclPresent_ != FALSE; }
    bool DaclDefaulted() const { return daclDefaulted_ != FALSE; }

private:
    bool valid_ = false;
    BOOL daclPresent_ = FALSE;
    BOOL daclDefaulted_ = FALSE;
    PACL dacl_ = nullptr;
    std::unique_ptr<BYTE[]> descriptor_;
};
