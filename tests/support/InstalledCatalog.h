#pragma once
// A catalog (made by tests/support/make_test_catalog.py) in the system's catalog database for a scope.
#include <windows.h>
#include <mscat.h>

#include <string>

#include "platform/win32/CatalogAdminContext.h"

class InstalledCatalog {
public:
    explicit InstalledCatalog(const std::wstring& catalog)
        : name_(L"tidewash_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                catalog.substr(catalog.find_last_of(L'\\') + 1)) {
        if (!admin_.Acquire()) return;
        std::wstring source = catalog;
        CatalogInfoContext info(admin_.Get(), CryptCATAdminAddCatalog(admin_.Get(), &source[0], &name_[0], 0));
        installed_ = info.IsValid();
    }
    ~InstalledCatalog() {
        if (installed_) CryptCATAdminRemoveCatalog(admin_.Get(), name_.c_str(), 0);
    }
    InstalledCatalog(const InstalledCatalog&) = delete;
    InstalledCatalog& operator=(const InstalledCatalog&) = delete;
    bool Installed() const { return installed_; }

private:
    std::wstring name_;
    CatalogAdminContext admin_;
    bool installed_ = false;
};
