#include "grimlet/common/RegKeyUnlocker.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

#include "grimlet/common/ProcessOwnerSid.h"
#include "grimlet/common/RegistryLink.h"
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

// A key's owner taken over for the length of one Unlock(); the old owner is put back by HandBack(). Both
// go through one handle opened with WRITE_OWNER, so they act on the key that was checked.
class OwnershipTakeover {
public:
    explicit OwnershipTakeover(const RegistryKey& key) : key_(key) {}
    OwnershipTakeover(const OwnershipTakeover&) = delete;
    OwnershipTakeover& operator=(const OwnershipTakeover&) = delete;

    // `readable` is the same key opened with READ_CONTROL when that was granted, else null. An owner that
    // cannot be read could never be put back: then nothing is taken and the key stays as it is.
    bool Take(HKEY readable, PSID newOwner) {
        if (!readable || GetSecurityInfo(readable, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, &oldOwner_, nullptr,
                                         nullptr, nullptr, oldDescriptor_.Receive()) != ERROR_SUCCESS ||
            !oldOwner_) {
            oldOwner_ = nullptr;  // what was read, if anything, goes with oldDescriptor_
            TW_LOG(LogLevel::Error, "The key's owner cannot be read; its ownership is not taken");
            return false;
        }
        DWORD result = SetOwner(newOwner);
        if (result != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "SetSecurityInfo owner Error=%d", (int)result);
            return false;
        }
        taken_ = true;
        return true;
    }

    // `readable` (the key opened with READ_CONTROL, or null) is used to read the owner back: the old
    // owner counts as handed back only once the key says so. Empty when it is, else why not.
    std::wstring HandBack(HKEY readable) {
        if (!taken_ || !oldOwner_) return std::wstring();
        taken_ = false;
        DWORD result = SetOwner(oldOwner_);
        if (result == ERROR_INVALID_OWNER && EnableRestorePrivilege()) result = SetOwner(oldOwner_);
        if (result != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "SetSecurityInfo old owner Error=%d", (int)result);
            return L"its old owner could not be put back (Error=" + std::to_wstring(result) + L")";
        }
        if (!readable) return std::wstring();
        PSID owner = nullptr;
        LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
        if (GetSecurityInfo(readable, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                            descriptor.Receive()) != ERROR_SUCCESS ||
            !owner || !EqualSid(owner, oldOwner_)) {
            TW_LOG(LogLevel::Error, "The key's old owner did not come back");
            return L"its old owner did not come back";
        }
        return std::wstring();
    }

private:
    DWORD SetOwner(PSID owner) {
        return SetSecurityInfo(key_.Get(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr);
    }

    const RegistryKey& key_;  // opened with WRITE_OWNER
    PSID oldOwner_ = nullptr;
    LocalMemory<PSECURITY_DESCRIPTOR> oldDescriptor_;  // holds what oldOwner_ points into
    bool taken_ = false;
};

// The key's DACL as a self-relative descriptor; empty when it cannot be read.
std::vector<BYTE> ReadKeyDacl(HKEY key) {
    DWORD size = 0;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return {};
    std::vector<BYTE> descriptor(size);
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size) != ERROR_SUCCESS) return {};
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

// What Restore() returns when the list it wrote does not read back as the saved one.
constexpr LONG kListCameBackChanged = ERROR_REVISION_MISMATCH;

// The DACL part of a self-relative descriptor as text, to tell whether two lists are the same list.
std::wstring DaclText(const std::vector<BYTE>& descriptor) {
    if (descriptor.empty()) return std::wstring();
    LocalMemory<wchar_t*> text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(const_cast<BYTE*>(descriptor.data()), SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, text.Receive(), nullptr))
        return std::wstring();
    return text.Get();
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

LONG RegKeyUnlocker::OpenKey(REGSAM access, RegistryKey& key) const {
    if (root_ == HKEY_LOCAL_MACHINE) return RegistryLink::OpenMachineKey(path_, access, key);
    return RegOpenKeyExW(root_, path_, REG_OPTION_OPEN_LINK, access, key.Receive());
}

bool RegKeyUnlocker::Unlock() {
    // Every step below acts on the key itself, never through it: a link is unlocked as a link (its own
    // access list), and its target is left alone.
    RegistryKey key;
    LONG opened = OpenKey(WRITE_DAC | READ_CONTROL, key);
    if (opened == ERROR_ACCESS_DENIED) opened = OpenKey(WRITE_DAC, key);
    if (opened != ERROR_SUCCESS && opened != ERROR_ACCESS_DENIED) {
        TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) WRITE_DAC Error=%d", path_, (int)opened);
        return false;
    }
    PSID owner = ProcessOwnerSid();
    if (!owner) return false;

    RegistryKey ownerHandle;
    OwnershipTakeover takeover(ownerHandle);
    if (opened == ERROR_ACCESS_DENIED) {
        LONG result = OpenKey(WRITE_OWNER, ownerHandle);
        if (result != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) WRITE_OWNER Error=%d", path_, (int)result);
            return false;
        }
        RegistryKey readable;
        if (OpenKey(READ_CONTROL, readable) != ERROR_SUCCESS) readable.Close();
        // Taking the key is worth it only if its list can be read and opened up; else it is not touched.
        if (!readable.IsValid() || BuildUnlockedDacl(ReadKeyDacl(readable.Get()), owner).empty()) {
            TW_LOG(LogLevel::Error, "RegKeyUnlocker(%S): the access list cannot be read or rebuilt; key left as it was",
                   path_);
            return false;
        }
        if (!takeover.Take(readable.Get(), owner)) return false;
        opened = OpenKey(WRITE_DAC | READ_CONTROL, key);
        if (opened != ERROR_SUCCESS) {
            TW_LOG(LogLevel::Error, "RegOpenKeyExW(%S) WRITE_DAC after takeover Error=%d", path_, (int)opened);
            fault_ = takeover.HandBack(readable.Get());
            return false;
        }
    }

    std::vector<BYTE> saved = ReadKeyDacl(key.Get());
    std::vector<BYTE> unlocked = BuildUnlockedDacl(saved, owner);
    if (unlocked.empty()) {
        TW_LOG(LogLevel::Error, "RegKeyUnlocker(%S): the access list cannot be rebuilt; key left as it was", path_);
        fault_ = takeover.HandBack(key.Get());
        return false;
    }
    LONG written = WriteDacl(key.Get(), reinterpret_cast<PACL>(unlocked.data()));
    fault_ = takeover.HandBack(key.Get());
    key.Close();
    if (written != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "RegSetKeySecurity(%S) Error=%d", path_, (int)written);
        return false;
    }
    // A second Unlock() of the same key would read back our own opened list; the first one saved is the
    // key's real list and is the one to restore.
    if (savedDescriptor_.empty()) savedDescriptor_ = std::move(saved);
    return true;
}

std::wstring RegKeyUnlocker::Release() {
    std::wstring fault = fault_;
    fault_.clear();
    if (!HoldsSavedList()) return fault;
    LONG result = Restore();
    if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) return fault;
    if (!fault.empty()) fault += L"; ";
    if (result == kListCameBackChanged) return fault + L"its access list did not come back as it was";
    return fault + L"its access list could not be put back (Error=" + std::to_wstring(result) + L")";
}

LONG RegKeyUnlocker::Restore() {
    // The list read back through the same handle must be the one saved: a list that the system (or the
    // worm, meanwhile) made into another would leave the key changed without anybody knowing.
    RegistryKey key;
    LONG result = OpenKey(WRITE_DAC | READ_CONTROL, key);
    if (result == ERROR_SUCCESS) result = RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, savedDescriptor_.data());
    if (result == ERROR_SUCCESS && DaclText(ReadKeyDacl(key.Get())) != DaclText(savedDescriptor_))
        result = kListCameBackChanged;
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        TW_LOG(LogLevel::Error, "RegKeyUnlocker(%S): restoring the access list Error=%d", path_, (int)result);
    savedDescriptor_.clear();
    return result;
}
