#include "grimlet/common/RegKeyUnlocker.h"

#include <aclapi.h>

#include <cwchar>

#include "grimlet/common/ProcessOwnerSid.h"
#include "platform/log/Logger.h"
#include "platform/win32/LocalMemory.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/TokenHandle.h"

static const wchar_t kLogSource[] = L"GrimletHandler";

namespace {

// Handing a key back to an owner other than ourselves (SYSTEM, TrustedInstaller) needs the restore
// privilege; it is switched on only when the system asks for it.
bool EnableRestorePrivilege() {
    TokenHandle token;
    if (!token.OpenOfThisProcess(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY)) return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &privileges.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) &&
              GetLastError() == ERROR_SUCCESS;
    return ok;
}

// A key's owner taken over for the length of one Unlock(); the old owner is put back by HandBack().
class OwnershipTakeover {
public:
    explicit OwnershipTakeover(const std::wstring& objectName) : name_(objectName) {}
    OwnershipTakeover(const OwnershipTakeover&) = delete;
    OwnershipTakeover& operator=(const OwnershipTakeover&) = delete;

    bool Take(PSID newOwner) {
        if (GetNamedSecurityInfoW(name_.c_str(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, &oldOwner_, nullptr,
                                  nullptr, nullptr, oldDescriptor_.Receive()) != ERROR_SUCCESS) {
            oldOwner_ = nullptr;
            oldDescriptor_.Detach();
        }
        DWORD result = SetNamedSecurityInfoW(&name_[0], SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, newOwner,
                                             nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "SetNamedSecurityInfoW(%S) owner Error=%d", name_.c_str(), (int)result);
            return false;
        }
        taken_ = true;
        return true;
    }

    void HandBack() {
        if (!taken_ || !oldOwner_) return;
        DWORD result = SetOwner(oldOwner_);
        if (result == ERROR_INVALID_OWNER && EnableRestorePrivilege()) result = SetOwner(oldOwner_);
        if (result != ERROR_SUCCESS)
            TW_LOG(LogLevel::Error, "SetNamedSecurityInfoW(%S) old owner Error=%d", name_.c_str(), (int)result);
        taken_ = false;
    }

private:
    DWORD SetOwner(PSID owner) {
        return SetNamedSecurityInfoW(&name_[0], SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr,
                                     nullptr);
    }

    std::wstring name_;
    PSID oldOwner_ = nullptr;
    LocalMemory<PSECURITY_DESCRIPTOR> oldDescriptor_;  // holds what oldOwner_ points into
    bool taken_ = false;
};

// The key's DACL as a self-relative descriptor; empty when it cannot be read.
std::vector<BYTE> ReadKeyDacl(HKEY root, const wchar_t* path) {
    RegistryKey key;
    if (key.Open(root, path, READ_CONTROL) != ERROR_SUCCESS) return {};
    DWORD size = 0;
    if (RegGetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER ||
        size == 0)
        return {};
    std::vector<BYTE> descriptor(size);
    if (RegGetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor.data(), &size) != ERROR_SUCCESS) return {};
    return descriptor;
}

// The saved list without its access-denied entries, plus full access for `owner`. Empty when the old
// list is absent or null, or an entry cannot be copied.
std::vector<BYTE> BuildUnlockedDacl(const std::vector<BYTE>& savedDescriptor, PSID owner) {
    if (savedDescriptor.empty() || !owner) return {};
    auto* descriptor = const_cast<BYTE*>(savedDescriptor.data());
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL oldDacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &oldDacl, &defaulted) || !present || !oldDacl) return {};
    ACL_SIZE_INFORMATION sizeInfo = {};
    if (!GetAclInformation(oldDacl, &sizeInfo, sizeof sizeInfo, AclSizeInformation)) return {};

    DWORD newSize = sizeInfo.AclBytesInUse + GetLengthSid(owner) + 8;
    std::vector<BYTE> newDacl(newSize);
    auto* acl = reinterpret_cast<PACL>(newDacl.data());
    if (!InitializeAcl(acl, newSize, ACL_REVISION)) return {};
    for (DWORD index = 0; index < sizeInfo.AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(oldDacl, index, &ace)) return {};
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (!AddAce(acl, ACL_REVISION, MAXDWORD, ace, header->AceSize)) return {};
    }
    if (!AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, owner)) return {};
    return newDacl;
}

LONG WriteDacl(HKEY key, PACL dacl) {
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE))
        return static_cast<LONG>(GetLastError());
    return RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
}

}  // namespace

RegKeyUnlocker::RegKeyUnlocker(HKEY root, const std::wstring& path) : root_(root) {
    wcsncpy(path_, path.c_str(), MAX_PATH - 1);
    path_[MAX_PATH - 1] = L'\0';
}

RegKeyUnlocker::~RegKeyUnlocker() {
    if (HoldsSavedList()) Restore();
}

std::wstring RegKeyUnlocker::ObjectName(HKEY root, const std::wstring& path) {
    const wchar_t* prefix = nullptr;
    if (root == HKEY_LOCAL_MACHINE)
        prefix = L"MACHINE\\";
    else if (root == HKEY_CLASSES_ROOT)
        prefix = L"CLASSES_ROOT\\";
    else if (root == HKEY_CURRENT_USER)
        prefix = L"CURRENT_USER\\";
    else if (root == HKEY_USERS)
        prefix = L"USERS\\";
    if (!prefix) return std::wstring();
    std::wstring name = prefix + path;
    if (name.size() > MAX_PATH - 1) name.resize(MAX_PATH - 1);
    return name;
}

bool RegKeyUnlocker::Unlock() {
    RegistryKey key;
    LONG opened = key.Open(root_, path_, WRITE_DAC);
    if (opened != ERROR_SUCCESS && opened != ERROR_ACCESS_DENIED) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) WRITE_DAC Error=%d", path_, (int)opened);
        return false;
    }
    PSID owner = ProcessOwnerSid();
    if (!owner) return false;

    std::wstring objectName = ObjectName(root_, path_);
    OwnershipTakeover takeover(objectName);
    if (opened == ERROR_ACCESS_DENIED) {
        if (objectName.empty() || !takeover.Take(owner)) return false;
        opened = key.Open(root_, path_, WRITE_DAC);
        if (opened != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) WRITE_DAC after takeover Error=%d", path_, (int)opened);
            takeover.HandBack();
            return false;
        }
    }

    std::vector<BYTE> saved = ReadKeyDacl(root_, path_);
    std::vector<BYTE> unlocked = BuildUnlockedDacl(saved, owner);
    if (unlocked.empty()) {
        TW_LOG(LogLevel::Error, "RegKeyUnlocker(%S): the access list cannot be rebuilt; key left as it was", path_);
        key.Close();
        takeover.HandBack();
        return false;
    }
    LONG written = WriteDacl(key.Get(), reinterpret_cast<PACL>(unlocked.data()));
    key.Close();
    takeover.HandBack();
    if (written != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegSetKeySecurity(%S) Error=%d", path_, (int)written);
        return false;
    }
    // A second Unlock() of the same key would read back our own opened list; the first one saved is the
    // key's real list and is the one to restore.
    if (savedDescriptor_.empty()) savedDescriptor_ = std::move(saved);
    return true;
}

bool RegKeyUnlocker::Restore() {
    RegistryKey key;
    LONG result = key.Open(root_, path_, WRITE_DAC);
    if (result == ERROR_SUCCESS) result = RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, savedDescriptor_.data());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        TW_LOG(LogLevel::Error, "RegKeyUnlocker(%S): restoring the access list Error=%d", path_, (int)result);
    savedDescriptor_.clear();
    return result == ERROR_SUCCESS;
}
