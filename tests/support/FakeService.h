#pragma once
// Fake services written into the test prefix's registry for the service-check and engine tests.
#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// Turns a privilege of this process on (SeTakeOwnershipPrivilege, SeRestorePrivilege...).
bool EnableProcessPrivilege(const wchar_t* name);

// A key under HKLM\SYSTEM\CurrentControlSet\Services created for a test and removed again, whatever
// access list the test left on it.
class FakeService {
public:
    // `serviceDll` null: no Parameters subkey.
    FakeService(const std::wstring& name, const std::wstring& imagePath, const wchar_t* serviceDll);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    const std::wstring& Name() const { return name_; }
    std::wstring KeyPath() const { return L"SYSTEM\\CurrentControlSet\\Services\\" + name_; }
    std::wstring ParametersPath() const { return KeyPath() + L"\\Parameters"; }

    static void SetValue(const std::wstring& keyPath, const wchar_t* name, DWORD type, const void* data, DWORD size);
    static void SetString(const std::wstring& keyPath, const wchar_t* name, const std::wstring& text,
                          DWORD type = REG_SZ);
    // Puts an entry denying everybody everything in front of the key's access list, as the worm does.
    static bool DenyEverybody(const std::wstring& keyPath);
    // Gives the key an access list granting everybody everything and removes it with its subkeys.
    static void ForceDelete(const std::wstring& keyPath);
    static bool KeyExists(const std::wstring& keyPath);
    // The key's owner and access list as SDDL text; empty when they cannot be read.
    static std::wstring SecurityAsSddl(const std::wstring& keyPath);

private:
    std::wstring name_;
};

// Names added to the netsvcs group list (HKLM\...\SvcHost, value "netsvcs", the native view) for a
// test and taken out again: the services a netsvcs host starts, the only ones whose denied keys the
// scan may unlock.
class NetsvcsListing {
public:
    explicit NetsvcsListing(std::vector<std::wstring> names);
    ~NetsvcsListing();
    NetsvcsListing(const NetsvcsListing&) = delete;
    NetsvcsListing& operator=(const NetsvcsListing&) = delete;
    static std::vector<std::wstring> Read();
    static bool Lists(const std::wstring& name);
    // Leaves the names listed when the object goes (a fixture that outlives its program).
    void Keep() { names_.clear(); }

private:
    std::vector<std::wstring> names_;
};

// Another process that keeps a file open without sharing it until the object is destroyed.
// A registry link made for a test (REG_OPTION_CREATE_LINK, as a worm would plant one) under
// HKEY_LOCAL_MACHINE, leading to another key under HKEY_LOCAL_MACHINE; deleted itself, never its
// target, when it goes.
class FakeRegistryLink {
public:
    FakeRegistryLink(const std::wstring& linkPath, const std::wstring& targetPath);
    ~FakeRegistryLink();
    FakeRegistryLink(const FakeRegistryLink&) = delete;
    FakeRegistryLink& operator=(const FakeRegistryLink&) = delete;
    bool Made() const { return made_; }
    // Whether a key (a link, not followed) is at `linkPath`.
    static bool Exists(const std::wstring& linkPath);

private:
    std::wstring path_;
    bool made_ = false;
};

class FileHolderProcess {
public:
    explicit FileHolderProcess(const std::wstring& path);
    ~FileHolderProcess();
    FileHolderProcess(const FileHolderProcess&) = delete;
    FileHolderProcess& operator=(const FileHolderProcess&) = delete;
    bool Holding() const { return holding_; }
    void Release();

private:
    HANDLE process_ = nullptr;
    HANDLE release_ = nullptr;
    bool holding_ = false;
};

// A file in one of the two system folders of 64-bit Windows, for one test: the native System32, where a
// 64-bit service host loads its DLLs, or SysWOW64, which a 32-bit process is shown under the name
// System32. Written, read and removed with the file-system redirection off, so that on both tiers the
// object names the same file. Attributes are cleared before the removal.
class SystemFolderFile {
public:
    enum Folder { kNativeSystem32, kSysWow64 };

    SystemFolderFile(Folder folder, const std::wstring& name, const std::string& bytes,
                     DWORD attributes = FILE_ATTRIBUTE_NORMAL);
    ~SystemFolderFile();
    SystemFolderFile(const SystemFolderFile&) = delete;
    SystemFolderFile& operator=(const SystemFolderFile&) = delete;

    bool Written() const { return written_; }
    bool Rewrite(const std::string& bytes);
    // A handle that shares nothing: while it is open nobody else can read the file.
    HANDLE OpenExclusively() const;
    // Leaves the file in place when the object goes (a fixture that outlives its program).
    void Keep() { kept_ = true; }
    bool Exists() const;
    std::string Bytes() const;  // empty when the file cannot be read
    // The real path of the file (...\System32\name or ...\SysWOW64\name).
    const std::wstring& Path() const { return path_; }

    // A service DLL in System32 as the registry writes it, and as it reads once expanded.
    static std::wstring RegistryPath(const std::wstring& name) { return L"%SystemRoot%\\system32\\" + name; }
    static std::wstring ExpandedPath(const std::wstring& name);

private:
    std::wstring path_;
    bool written_ = false;
    bool kept_ = false;
    DWORD originalAttributes_ = INVALID_FILE_ATTRIBUTES;  // of a file that stood there before
    std::string original_;
};

// A unique service-name stem for one test in one tier and process.
std::wstring UniqueServiceStem(const wchar_t* test);

}  // namespace testsupport
