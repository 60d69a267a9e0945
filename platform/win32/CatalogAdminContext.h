#pragma once
// The contexts of the catalog signature checks: the catalog administrator context, and one catalog
// found through it.
#include <windows.h>
#include <mscat.h>

#include "platform/win32/OwnedHandle.h"

struct CatalogAdminTraits {
    using Type = HCATADMIN;
    static bool IsNone(HCATADMIN admin) { return admin == nullptr; }
    static HCATADMIN None() { return nullptr; }
    static bool Release(HCATADMIN admin) { return CryptCATAdminReleaseContext(admin, 0) != FALSE; }
};

class CatalogAdminContext : public OwnedHandle<CatalogAdminTraits> {
public:
    using OwnedHandle::OwnedHandle;

    // The default catalog subsystem; closes any context held before. On failure the system's error is
    // the thread's last error.
    bool Acquire() { return CryptCATAdminAcquireContext(Receive(), nullptr, 0) != FALSE; }
};

// One catalog context (of CryptCATAdminEnumCatalogFromHash), released through the administrator context
// that found it, which must outlive it.
class CatalogInfoContext {
public:
    CatalogInfoContext() = default;
    CatalogInfoContext(HCATADMIN admin, HCATINFO info) : admin_(admin), info_(info) {}
    ~CatalogInfoContext() { Close(); }
    CatalogInfoContext(const CatalogInfoContext&) = delete;
    CatalogInfoContext& operator=(const CatalogInfoContext&) = delete;
    CatalogInfoContext(CatalogInfoContext&& other) noexcept : admin_(other.admin_), info_(other.Detach()) {}
    CatalogInfoContext& operator=(CatalogInfoContext&& other) noexcept {
        if (this != &other) {
            const HCATADMIN admin = other.admin_;
            Attach(admin, other.Detach());
        }
        return *this;
    }

    bool IsValid() const { return info_ != nullptr; }
    HCATINFO Get() const { return info_; }

    void Attach(HCATADMIN admin, HCATINFO info) {
        Close();
        admin_ = admin;
        info_ = info;
    }
    HCATINFO Detach() {
        const HCATINFO info = info_;
        info_ = nullptr;
        return info;
    }
    bool Close() {
        const bool released = !info_ || CryptCATAdminReleaseCatalogContext(admin_, info_, 0) != FALSE;
        info_ = nullptr;
        return released;
    }

private:
    HCATADMIN admin_ = nullptr;
    HCATINFO info_ = nullptr;
};
