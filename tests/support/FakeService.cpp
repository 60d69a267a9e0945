#include "tests/support/FakeService.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <vector>

#include "tests/support/TestSupport.h"

namespace testsupport {

namespace {

const wchar_t kServices[] = L"SYSTEM\\CurrentControlSet\\Services\\";

void DeleteTree(HKEY root, const std::wstring& path) {
    for (const std::wstring& child : SubkeyNames(root, path)) DeleteTree(root, path + L"\\" + child);
    RegDeleteKeyW(root, path.c_str());
}

void OpenUpTree(const std::wstring& path) {
    FakeService::ForceDelete(path);
}

// The file-system redirection of this thread off for a scope, where there is one (the i686 tier).
class RedirectionOff {
public:
    RedirectionOff() {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        auto disable = reinterpret_cast<BOOL(WINAPI*)(PVOID*)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
        revert_ = reinterpret_cast<BOOL(WINAPI*)(PVOID)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
        BOOL wow64 = FALSE;
        off_ = IsWow64Process(GetCurrentProcess(), &wow64) && wow64 && disable && revert_ && disable(&old_);
    }
    ~RedirectionOff() {
        if (off_) revert_(old_);
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;

private:
    BOOL(WINAPI* revert_)(PVOID) = nullptr;
    PVOID old_ = nullptr;
    bool off_ = false;
};

std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

}  // namespace

SystemFolderFile::SystemFolderFile(Folder folder, const std::wstring& name, const std::string& bytes,
                                   DWORD attributes)
    : path_(WindowsFolder() + (folder == kNativeSystem32 ? L"\\System32\\" : L"\\SysWOW64\\") + name) {
    RedirectionOff nativeView;
    // A file of the system's that stood there comes back when the fixture goes.
    originalAttributes_ = GetFileAttributesW(path_.c_str());
    if (originalAttributes_ != INVALID_FILE_ATTRIBUTES) original_ = ReadFileBytes(path_);
    SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    written_ = WriteFileBytes(path_, bytes) && SetFileAttributesW(path_.c_str(), attributes);
}

SystemFolderFile::~SystemFolderFile() {
    if (kept_) return;
    RedirectionOff nativeView;
    SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (originalAttributes_ == INVALID_FILE_ATTRIBUTES) {
        DeleteFileW(path_.c_str());
    } else if (WriteFileBytes(path_, original_)) {
        SetFileAttributesW(path_.c_str(), originalAttributes_);
    }
}

bool SystemFolderFile::Rewrite(const std::string& bytes) {
    RedirectionOff nativeView;
    return WriteFileBytes(path_, bytes);
}

HANDLE SystemFolderFile::OpenExclusively() const {
    RedirectionOff nativeView;
    return CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool SystemFolderFile::Exists() const {
    RedirectionOff nativeView;
    return FileExists(path_);
}

std::string SystemFolderFile::Bytes() const {
    RedirectionOff nativeView;
    return ReadFileBytes(path_);
}

std::wstring SystemFolderFile::ExpandedPath(const std::wstring& name) {
    wchar_t expanded[MAX_PATH] = {};
    ExpandEnvironmentStringsW(RegistryPath(name).c_str(), expanded, MAX_PATH);
    return expanded;
}

bool EnableProcessPrivilege(const wchar_t* name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return ok;
}

std::wstring UniqueServiceStem(const wchar_t* test) {
    wchar_t stem[128];
    _snwprintf(stem, 128, L"TwFake%s%s%lu", test, IsI686Tier() ? L"A" : L"B", GetCurrentProcessId());
    stem[127] = L'\0';
    return stem;
}

FakeService::FakeService(const std::wstring& name, const std::wstring& imagePath, const wchar_t* serviceDll)
    : name_(name) {
    ForceDelete(KeyPath());
    SetString(KeyPath(), L"ImagePath", imagePath, REG_EXPAND_SZ);
    DWORD start = 3;
    SetValue(KeyPath(), L"Start", REG_DWORD, &start, sizeof start);
    if (serviceDll) SetString(ParametersPath(), L"ServiceDll", serviceDll, REG_EXPAND_SZ);
}

FakeService::~FakeService() { OpenUpTree(KeyPath()); }

FakeRegistryLink::FakeRegistryLink(const std::wstring& linkPath, const std::wstring& targetPath) : path_(linkPath) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, linkPath.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    // The target in the kernel's terms, without a terminating NUL.
    const std::wstring target = L"\\Registry\\Machine\\" + targetPath;
    made_ = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                           static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
}

FakeRegistryLink::~FakeRegistryLink() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), REG_OPTION_OPEN_LINK, DELETE, &key) != ERROR_SUCCESS) return;
    auto deleteKey = reinterpret_cast<LONG(WINAPI*)(HANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    if (deleteKey) deleteKey(key);
    RegCloseKey(key);
}

bool FakeRegistryLink::Exists(const std::wstring& linkPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, linkPath.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void FakeService::SetValue(const std::wstring& keyPath, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void FakeService::SetString(const std::wstring& keyPath, const wchar_t* name, const std::wstring& text, DWORD type) {
    SetValue(keyPath, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool FakeService::DenyEverybody(const std::wstring& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, READ_CONTROL | WRITE_DAC, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> old(size ? size : 1);
    bool ok = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, old.data(), &size) == ERROR_SUCCESS;
    BOOL present = FALSE, defaulted = FALSE;
    PACL oldDacl = nullptr;
    ok = ok && GetSecurityDescriptorDacl(old.data(), &present, &oldDacl, &defaulted);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ok = ok && AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    std::vector<BYTE> acl(4096);
    auto* newDacl = reinterpret_cast<PACL>(acl.data());
    ok = ok && InitializeAcl(newDacl, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
         AddAccessDeniedAce(newDacl, ACL_REVISION, KEY_ALL_ACCESS, everyone);
    if (ok && present && oldDacl) {
        ACL_SIZE_INFORMATION info = {};
        GetAclInformation(oldDacl, &info, sizeof info, AclSizeInformation);
        for (DWORD index = 0; index < info.AceCount; ++index) {
            void* ace = nullptr;
            if (GetAce(oldDacl, index, &ace)) AddAce(newDacl, ACL_REVISION, MAXDWORD, ace, static_cast<ACE_HEADER*>(ace)->AceSize);
        }
    }
    SECURITY_DESCRIPTOR descriptor;
    ok = ok && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&descriptor, TRUE, newDacl, FALSE) &&
         RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
    if (everyone) FreeSid(everyone);
    RegCloseKey(key);
    return ok;
}

void FakeService::ForceDelete(const std::wstring& keyPath) {
    EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
    EnableProcessPrivilege(SE_RESTORE_NAME);
    // Open up every key of the tree first: a denied subkey would stop the delete.
    std::wstring objectName = L"MACHINE\\" + keyPath;
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE userBuffer[256];
    DWORD got = 0;
    PSID user = nullptr;
    if (token && GetTokenInformation(token, TokenUser, userBuffer, sizeof userBuffer, &got))
        user = reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid;
    if (user)
        SetNamedSecurityInfoW(&objectName[0], SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, user, nullptr, nullptr,
                              nullptr);
    if (token) CloseHandle(token);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    BYTE aclBuffer[256];
    auto* acl = reinterpret_cast<PACL>(aclBuffer);
    InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
    AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR descriptor;
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
        RegCloseKey(key);
    }
    if (everyone) FreeSid(everyone);
    for (const std::wstring& child : SubkeyNames(HKEY_LOCAL_MACHINE, keyPath)) ForceDelete(keyPath + L"\\" + child);
    DeleteTree(HKEY_LOCAL_MACHINE, keyPath);
}

bool FakeService::KeyExists(const std::wstring& keyPath) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, READ_CONTROL, &key);
    if (result == ERROR_SUCCESS) RegCloseKey(key);
    return result != ERROR_FILE_NOT_FOUND;
}

namespace {
const wchar_t kSvcHost[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SvcHost";

REGSAM NativeView() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 ? KEY_WOW64_64KEY : 0;
}

void WriteNetsvcs(const std::vector<std::wstring>& names) {
    std::vector<wchar_t> data;
    for (const std::wstring& name : names) {
        data.insert(data.end(), name.begin(), name.end());
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSvcHost, 0, nullptr, 0, KEY_SET_VALUE | NativeView(), nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"netsvcs", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    RegCloseKey(key);
}
}  // namespace

NetsvcsListing::NetsvcsListing(std::vector<std::wstring> names) : names_(std::move(names)) {
    std::vector<std::wstring> listed = Read();
    listed.insert(listed.end(), names_.begin(), names_.end());
    WriteNetsvcs(listed);
}

NetsvcsListing::~NetsvcsListing() {
    if (names_.empty()) return;
    std::vector<std::wstring> kept;
    for (const std::wstring& item : Read()) {
        bool ours = false;
        for (const std::wstring& name : names_) ours = ours || _wcsicmp(item.c_str(), name.c_str()) == 0;
        if (!ours) kept.push_back(item);
    }
    WriteNetsvcs(kept);
}

std::vector<std::wstring> NetsvcsListing::Read() {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSvcHost, 0, KEY_QUERY_VALUE | NativeView(), &key) != ERROR_SUCCESS)
        return names;
    DWORD size = 0;
    DWORD type = 0;
    std::vector<wchar_t> data;
    if (RegQueryValueExW(key, L"netsvcs", nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
        data.assign(size / sizeof(wchar_t) + 2, L'\0');
        RegQueryValueExW(key, L"netsvcs", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    }
    RegCloseKey(key);
    for (std::size_t start = 0; start < data.size() && data[start];) {
        names.emplace_back(&data[start]);
        start += names.back().size() + 1;
    }
    return names;
}

bool NetsvcsListing::Lists(const std::wstring& name) {
    for (const std::wstring& item : Read())
        if (item == name) return true;
    return false;
}

std::wstring FakeService::SecurityAsSddl(const std::wstring& keyPath) {
    std::wstring objectName = L"MACHINE\\" + keyPath;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(objectName.c_str(), SE_REGISTRY_KEY,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return std::wstring();
    LPWSTR text = nullptr;
    std::wstring sddl;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        sddl = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return sddl;
}

FileHolderProcess::FileHolderProcess(const std::wstring& path) {
    wchar_t readyName[64], releaseName[64];
    static LONG counter = 0;
    LONG id = InterlockedIncrement(&counter);
    _snwprintf(readyName, 64, L"TwHolderReady%lu_%ld", GetCurrentProcessId(), id);
    _snwprintf(releaseName, 64, L"TwHolderRelease%lu_%ld", GetCurrentProcessId(), id);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName);
    release_ = CreateEventW(nullptr, TRUE, FALSE, releaseName);
    std::wstring exe = BinFolder() + L"\\file_holder.exe";
    std::wstring line = L"\"" + exe + L"\" \"" + path + L"\" " + readyName + L" " + releaseName;
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(exe.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        HANDLE waits[2] = {ready, process_};
        holding_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
    }
    CloseHandle(ready);
}

void FileHolderProcess::Release() {
    if (release_) SetEvent(release_);
    if (process_) {
        WaitForSingleObject(process_, 30000);
        CloseHandle(process_);
        process_ = nullptr;
    }
    holding_ = false;
}

FileHolderProcess::~FileHolderProcess() {
    Release();
    if (release_) CloseHandle(release_);
}

}  // namespace testsupport
