#include "platform/system/OsVersion.h"

#include <windows.h>

#include <cstdio>

namespace {

constexpr uint32_t kPlatformWindows9x = 1;
constexpr uint32_t kPlatformNt = 2;
constexpr uint8_t kWorkstation = 1;
constexpr uint8_t kDomainController = 2;
constexpr uint16_t kArchitectureX86 = 0;
constexpr uint16_t kArchitectureIa64 = 6;
constexpr uint16_t kArchitectureAmd64 = 9;

uint16_t NativeArchitecture() {
    // GetNativeSystemInfo is missing before XP; a system without it is not 64-bit.
    typedef void(WINAPI * GetNativeSystemInfoFn)(LPSYSTEM_INFO);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return kArchitectureX86;
    auto getNative = reinterpret_cast<GetNativeSystemInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetNativeSystemInfo")));
    if (!getNative) return kArchitectureX86;
    SYSTEM_INFO info = {};
    getNative(&info);
    return info.wProcessorArchitecture;
}

std::wstring ProductName(const OsVersionFacts& f, uint32_t code) {
    const bool workstation = f.productType == kWorkstation || f.productType == 0;
    switch (code) {
        case kOsNt351: return L"Windows NT 3.51";
        case kOsNt4: return L"Windows NT 4.0";
        case kOsWindows2000: return L"Windows 2000";
        case kOsWindowsXp: return f.minorVersion == 2 ? L"Windows XP x64 Edition" : L"Windows XP";
        case kOsServer2003: return f.serverR2 ? L"Windows Server 2003 R2" : L"Windows Server 2003";
        case kOsVista: return L"Windows Vista";
        case kOsServer2008: return L"Windows Server 2008";
        case kOsWindows7: return workstation ? L"Windows 7" : L"Windows Server 2008 R2";
        case kOsWindows95: return L"Windows 95";
        case kOsWindows98: return L"Windows 98";
        case kOsWindowsMe: return L"Windows Me";
        default: break;
    }
    wchar_t name[64];
    _snwprintf(name, 64, L"%ls %u.%u", f.platformId == kPlatformWindows9x ? L"Windows" : L"Windows NT",
               static_cast<unsigned>(f.majorVersion), static_cast<unsigned>(f.minorVersion));
    name[63] = L'\0';
    return name;
}

const wchar_t* ProductTypeName(uint8_t productType) {
    switch (productType) {
        case 0: return nullptr;
        case kWorkstation: return L"workstation";
        case kDomainController: return L"domain controller";
        default: return L"server";
    }
}

std::wstring ArchitectureName(uint16_t architecture) {
    switch (architecture) {
        case kArchitectureX86: return L"x86";
        case kArchitectureAmd64: return L"x64";
        case kArchitectureIa64: return L"IA-64";
        default: return L"architecture " + std::to_wstring(architecture);
    }
}

}  // namespace

uint32_t OsVersionCode(const OsVersionFacts& f) {
    if (f.platformId == kPlatformNt) {
        if (f.majorVersion == 3 && f.minorVersion == 51) return kOsNt351;
        if (f.majorVersion == 4 && f.minorVersion == 0) return kOsNt4;
        if (f.majorVersion == 5 && f.minorVersion == 0) return kOsWindows2000;
        if (f.majorVersion == 5 && f.minorVersion == 1) return kOsWindowsXp;
        if (f.majorVersion == 5 && f.minorVersion == 2) {
            if (f.serverR2) return kOsServer2003;
            if (f.productType == kWorkstation && f.nativeArchitecture == kArchitectureAmd64) return kOsWindowsXp;
            return kOsServer2003;
        }
        if (f.majorVersion == 6 && f.minorVersion == 0) {
            return f.productType == kWorkstation ? kOsVista : kOsServer2008;
        }
        if (f.majorVersion == 6 && f.minorVersion == 1) return kOsWindows7;
        return kOsUnknown;
    }
    if (f.platformId == kPlatformWindows9x && f.majorVersion == 4) {
        if (f.minorVersion == 0) return kOsWindows95;
        if (f.minorVersion == 10) return kOsWindows98;
        if (f.minorVersion == 90) return kOsWindowsMe;
    }
    return kOsUnknown;
}

bool ReadOsVersionFacts(OsVersionFacts& facts) {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    bool extended = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != FALSE;
    if (!extended) {
        version = OSVERSIONINFOEXW{};
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return false;
    }

    OsVersionFacts read;
    read.platformId = version.dwPlatformId;
    read.majorVersion = version.dwMajorVersion;
    read.minorVersion = version.dwMinorVersion;
    read.productType = extended ? version.wProductType : 0;
    read.servicePackMajor = extended ? version.wServicePackMajor : 0;
    // 9x keeps other information in the high word.
    read.buildNumber = read.platformId == kPlatformNt ? version.dwBuildNumber : (version.dwBuildNumber & 0xFFFF);
    read.nativeArchitecture = NativeArchitecture();
    if (read.platformId == kPlatformNt && read.majorVersion == 5 && read.minorVersion == 2)
        read.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
    facts = read;
    return true;
}

std::wstring DescribeSystem(const OsVersionFacts& facts) {
    const uint32_t code = OsVersionCode(facts);
    std::wstring text = ProductName(facts, code);
    if (facts.servicePackMajor != 0) text += L" Service Pack " + std::to_wstring(facts.servicePackMajor);
    text += L" (" + std::to_wstring(facts.majorVersion) + L"." + std::to_wstring(facts.minorVersion) + L"." +
            std::to_wstring(facts.buildNumber);
    if (const wchar_t* type = ProductTypeName(facts.productType)) text += std::wstring(L", ") + type;
    text += L", " + ArchitectureName(facts.nativeArchitecture) + L")";
    wchar_t codeText[24];
    if (code != kOsUnknown) {
        _snwprintf(codeText, 24, L" [0x%08X]", static_cast<unsigned>(code));
        codeText[23] = L'\0';
        text += codeText;
    } else {
        text += L" [no code]";
    }
    return text;
}

std::wstring DescribeRunningSystem() {
    OsVersionFacts facts;
    if (!ReadOsVersionFacts(facts)) return L"Windows (version unknown)";
    return DescribeSystem(facts);
}
