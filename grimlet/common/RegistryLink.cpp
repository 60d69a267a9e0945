#include "grimlet/common/RegistryLink.h"

#include <vector>

#include "platform/system/OrdinalName.h"

namespace RegistryLink {

namespace {

const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\Services";
const wchar_t kLinkValue[] = L"SymbolicLinkValue";
// The longest target a link can name (a registry path of at most 32767 characters).
constexpr DWORD kMaxTargetBytes = 65534;

typedef LONG(WINAPI* DeleteKeyFn)(HANDLE);

// NtDeleteKey acts on the handle itself; RegDeleteKeyW opens the name again and would follow a link.
// Looked up at run time like the other native calls; ntdll is in every process.
DeleteKeyFn NativeDeleteKey() {
    static const DeleteKeyFn deleteKey = []() -> DeleteKeyFn {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll ? reinterpret_cast<DeleteKeyFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDeleteKey")))
                     : nullptr;
    }();
    return deleteKey;
}

}  // namespace

Kind KindOf(HKEY key, std::wstring* target) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG result = RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND) return Kind::Plain;
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return Kind::Unknown;
    if (type != REG_LINK) return Kind::Plain;
    // A link has no subkeys of its own. A plain key that merely carries such a value is walked like any
    // other - through the handle of the key itself, which never leads anywhere else.
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS)
        return Kind::Unknown;
    if (subkeys != 0) return Kind::Plain;
    if (target && size <= kMaxTargetBytes) {
        std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        if (RegQueryValueExW(key, kLinkValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got) ==
            ERROR_SUCCESS)
            target->assign(text.data(), got / sizeof(wchar_t));
    }
    return Kind::Link;
}

LONG OpenChild(HKEY parent, const std::wstring& name, REGSAM access, RegistryKey& key) {
    return RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, access, key.Receive());
}

LONG OpenMachineKey(const std::wstring& path, REGSAM access, RegistryKey& key) {
    const std::wstring services = kServicesPath;
    if (path.size() <= services.size() + 1 || path[services.size()] != L'\\' ||
        !EqualIgnoringCase(path.substr(0, services.size()), services))
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, access, key.Receive());
    RegistryKey parent;
    LONG result = parent.Open(HKEY_LOCAL_MACHINE, services, KEY_QUERY_VALUE);
    if (result != ERROR_SUCCESS) return result;
    std::size_t start = services.size() + 1;
    for (;;) {
        std::size_t slash = path.find(L'\\', start);
        std::wstring name = path.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
        if (slash == std::wstring::npos) return OpenChild(parent.Get(), name, access, key);
        RegistryKey step;
        result = OpenChild(parent.Get(), name, KEY_QUERY_VALUE, step);
        if (result != ERROR_SUCCESS) return result;
        if (KindOf(step.Get()) != Kind::Plain) return kStoppedOnLink;
        parent = std::move(step);
        start = slash + 1;
    }
}

LONG DeleteOpenKey(HKEY key) {
    DeleteKeyFn deleteKey = NativeDeleteKey();
    if (!deleteKey) return ERROR_PROC_NOT_FOUND;
    LONG status = deleteKey(key);
    if (status >= 0) return ERROR_SUCCESS;
    // The few statuses a deletion meets, in the registry functions' terms.
    switch (static_cast<unsigned long>(status)) {
    case 0xC0000022UL: return ERROR_ACCESS_DENIED;      // STATUS_ACCESS_DENIED
    case 0xC0000121UL: return ERROR_ACCESS_DENIED;      // STATUS_CANNOT_DELETE (a key with subkeys)
    case 0xC000017CUL: return ERROR_KEY_DELETED;        // STATUS_KEY_DELETED
    default: return ERROR_GEN_FAILURE;
    }
}

}  // namespace RegistryLink
