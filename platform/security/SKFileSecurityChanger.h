#pragma once
#include <windows.h>

#include <string>

#include "platform/security/SKObjectSecurityDescriptor.h"

// Opens one file or folder to everyone for as long as the changer lives: Grant() saves nothing new but
// replaces the DACL read at construction with one that allows everyone everything, and destruction
// writes the saved DACL back. A DACL that could not be read is never replaced, so nothing is lost.
class SKFileSecurityChanger {
public:
    explicit SKFileSecurityChanger(const std::wstring& path);
    virtual ~SKFileSecurityChanger();
    SKFileSecurityChanger(const SKFileSecurityChanger&) = delete;
    SKFileSecurityChanger& operator=(const SKFileSecurityChanger&) = delete;

    bool Grant();
    bool Changed() const { return changed_; }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    SKObjectSecurityDescriptor saved_;
    bool changed_ = false;
};
