#pragma once
// What the tool knows about the running Windows: the product code that the worm plug-in's thread-stack
// calibration keys on, and the one-line description that both the plug-in's log and the host's
// unattended report show. Compiled into the host and, as source, into the plug-in.
#include <cstdint>
#include <string>

constexpr uint32_t kOsNt351 = 0x10030033;
constexpr uint32_t kOsNt4 = 0x10040000;
constexpr uint32_t kOsWindows2000 = 0x10050000;
constexpr uint32_t kOsWindowsXp = 0x10050001;  // also 64-bit XP (5.2 workstation on AMD64)
constexpr uint32_t kOsServer2003 = 0x10050002;  // also Server 2003 R2
constexpr uint32_t kOsVista = 0x10060000;
constexpr uint32_t kOsServer2008 = 0x10060001;
constexpr uint32_t kOsWindows7 = 0x10060002;
constexpr uint32_t kOsWindows95 = 0x20040000;
constexpr uint32_t kOsWindows98 = 0x2004000A;
constexpr uint32_t kOsWindowsMe = 0x2004005A;
constexpr uint32_t kOsUnknown = 0;

// What the version code and the description are decided from. Plain numbers: both are tested without
// Windows.
struct OsVersionFacts {
    uint32_t platformId = 0;          // VER_PLATFORM_WIN32_WINDOWS (1) or VER_PLATFORM_WIN32_NT (2)
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint8_t productType = 0;          // VER_NT_WORKSTATION (1), ...; 0 when only the basic query worked
    bool serverR2 = false;            // GetSystemMetrics(SM_SERVERR2) != 0; asked on 5.2 only
    uint16_t nativeArchitecture = 0;  // PROCESSOR_ARCHITECTURE_AMD64 is 9
    uint32_t buildNumber = 0;
    uint16_t servicePackMajor = 0;    // 0 also when only the basic query worked
};

uint32_t OsVersionCode(const OsVersionFacts& facts);

// Asks the system (GetVersionExW, extended form first). False only when both version queries are
// refused; `facts` is then unchanged.
bool ReadOsVersionFacts(OsVersionFacts& facts);

// For example "Windows 7 Service Pack 1 (6.1.7601, workstation, x64) [0x10060002]".
std::wstring DescribeSystem(const OsVersionFacts& facts);
// The running system's description; "Windows (version unknown)" when the system refuses to say.
std::wstring DescribeRunningSystem();
