#include "grimlet/common/DescribeOs.h"

#include <windows.h>

namespace {

constexpr uint32_t kPlatformWindows9x = 1;
constexpr uint32_t kPlatformNt = 2;
constexpr uint8_t kWorkstation = 1;
constexpr uint16_t kArchitectureAmd64 = 9;

uint16_t NativeArchitecture() {
    // GetNativeSystemInfo is missing before XP; a system without it is not 64-bit.
    typedef void(WINAPI * GetNativeSystemInfoFn)(LPSYSTEM_INFO);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return 0;
    auto getNative = reinterpret_cast<GetNativeSystemInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetNativeSystemInfo")));
    if (!getNative) return 0;
    SYSTEM_INFO info = {};
    getNative(&info);
    return info.wProcessorArchitecture;
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

bool DescribeOs(OsDescription& description) {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    bool extended = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != FALSE;
    if (!extended) {
        version = OSVERSIONINFOEXW{};
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return false;
    }

    OsVersionFacts facts;
    facts.platformId = version.dwPlatformId;
    facts.majorVersion = version.dwMajorVersion;
    facts.minorVersion = version.dwMinorVersion;
    facts.productType = extended ? version.wProductType : 0;
    if (facts.platformId == kPlatformNt && facts.majorVersion == 5 && facts.minorVersion == 2) {
        facts.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
        facts.nativeArchitecture = NativeArchitecture();
    }

    description.majorVersion = version.dwMajorVersion;
    description.versionCode = OsVersionCode(facts);
    return true;
}
