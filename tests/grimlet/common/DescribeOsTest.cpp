#include <gtest/gtest.h>

#include <windows.h>

#include "grimlet/common/DescribeOs.h"

namespace {

OsVersionFacts Nt(uint32_t major, uint32_t minor, uint8_t productType = 1, bool serverR2 = false,
                  uint16_t architecture = 0) {
    OsVersionFacts f;
    f.platformId = 2;
    f.majorVersion = major;
    f.minorVersion = minor;
    f.productType = productType;
    f.serverR2 = serverR2;
    f.nativeArchitecture = architecture;
    return f;
}

OsVersionFacts Win9x(uint32_t minor) {
    OsVersionFacts f;
    f.platformId = 1;
    f.majorVersion = 4;
    f.minorVersion = minor;
    return f;
}

constexpr uint8_t kWorkstation = 1, kDomainController = 2, kServer = 3;
constexpr uint16_t kX86 = 0, kIa64 = 6, kAmd64 = 9;

TEST(DescribeOs, EveryRowOfTheVersionTable) {
    EXPECT_EQ(OsVersionCode(Nt(3, 51)), 0x10030033u);
    EXPECT_EQ(OsVersionCode(Nt(4, 0)), 0x10040000u);
    EXPECT_EQ(OsVersionCode(Nt(5, 0)), 0x10050000u);
    EXPECT_EQ(OsVersionCode(Nt(5, 1)), 0x10050001u);
    // 5.2: R2 first, then 64-bit XP (a workstation on AMD64), otherwise Server 2003.
    EXPECT_EQ(OsVersionCode(Nt(5, 2, kServer, true, kX86)), 0x10050002u);
    EXPECT_EQ(OsVersionCode(Nt(5, 2, kWorkstation, true, kAmd64)), 0x10050002u);
    EXPECT_EQ(OsVersionCode(Nt(5, 2, kWorkstation, false, kAmd64)), 0x10050001u);
    EXPECT_EQ(OsVersionCode(Nt(5, 2, kWorkstation, false, kIa64)), 0x10050002u);
    EXPECT_EQ(OsVersionCode(Nt(5, 2, kServer, false, kAmd64)), 0x10050002u);
    EXPECT_EQ(OsVersionCode(Nt(5, 2, kServer, false, kX86)), 0x10050002u);
    EXPECT_EQ(OsVersionCode(Nt(6, 0, kWorkstation)), 0x10060000u);
    EXPECT_EQ(OsVersionCode(Nt(6, 0, kServer)), 0x10060001u);
    EXPECT_EQ(OsVersionCode(Nt(6, 0, kDomainController)), 0x10060001u);
    EXPECT_EQ(OsVersionCode(Nt(6, 1, kWorkstation)), 0x10060002u);
    EXPECT_EQ(OsVersionCode(Nt(6, 1, kServer)), 0x10060002u);
    EXPECT_EQ(OsVersionCode(Win9x(0)), 0x20040000u);
    EXPECT_EQ(OsVersionCode(Win9x(10)), 0x2004000Au);
    EXPECT_EQ(OsVersionCode(Win9x(90)), 0x2004005Au);
}

TEST(DescribeOs, VersionsOutsideTheTableHaveNoCode) {
    EXPECT_EQ(OsVersionCode(Nt(6, 2)), 0u);   // Windows 8
    EXPECT_EQ(OsVersionCode(Nt(6, 3)), 0u);   // Windows 8.1
    EXPECT_EQ(OsVersionCode(Nt(10, 0)), 0u);  // Windows 10
    EXPECT_EQ(OsVersionCode(Nt(3, 50)), 0u);
    EXPECT_EQ(OsVersionCode(Nt(5, 3)), 0u);
    EXPECT_EQ(OsVersionCode(Win9x(20)), 0u);
    OsVersionFacts win32s = Nt(5, 1);
    win32s.platformId = 0;
    EXPECT_EQ(OsVersionCode(win32s), 0u);
    OsVersionFacts ce = Nt(5, 1);
    ce.platformId = 3;
    EXPECT_EQ(OsVersionCode(ce), 0u);
}

TEST(DescribeOs, TheSystemsDescriptionNamesProductServicePackBuildTypeArchitectureAndCode) {
    OsVersionFacts seven = Nt(6, 1, kWorkstation, false, kAmd64);
    seven.buildNumber = 7601;
    seven.servicePackMajor = 1;
    EXPECT_EQ(DescribeSystem(seven), L"Windows 7 Service Pack 1 (6.1.7601, workstation, x64) [0x10060002]");
    OsVersionFacts xp64 = Nt(5, 2, kWorkstation, false, kAmd64);
    xp64.buildNumber = 3790;
    xp64.servicePackMajor = 2;
    EXPECT_EQ(DescribeSystem(xp64), L"Windows XP x64 Edition Service Pack 2 (5.2.3790, workstation, x64) [0x10050001]");
    EXPECT_EQ(DescribeSystem(Nt(6, 1, kServer)), L"Windows Server 2008 R2 (6.1.0, server, x86) [0x10060002]");
    EXPECT_EQ(DescribeSystem(Nt(5, 2, kServer, true)), L"Windows Server 2003 R2 (5.2.0, server, x86) [0x10050002]");
    EXPECT_EQ(DescribeSystem(Nt(10, 0, kWorkstation, false, kIa64)), L"Windows NT 10.0 (10.0.0, workstation, IA-64) [no code]");
    OsVersionFacts basic = Win9x(10);
    basic.productType = 0;
    basic.buildNumber = 2222;
    EXPECT_EQ(DescribeSystem(basic), L"Windows 98 (4.10.2222, x86) [0x2004000A]");
    // The running system's description carries the code the calibration keys on.
    OsDescription description;
    ASSERT_TRUE(DescribeOs(description));
    wchar_t code[16];
    swprintf(code, 16, L"[0x%08X]", description.versionCode);
    if (description.versionCode != 0) {
        EXPECT_NE(DescribeRunningSystem().find(code), std::wstring::npos);
    }
}

TEST(DescribeOs, DescribesTheRunningSystem) {
    OsDescription description;
    ASSERT_TRUE(DescribeOs(description));
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExW(&version));
    EXPECT_EQ(description.majorVersion, version.dwMajorVersion);
    OsVersionFacts facts = Nt(version.dwMajorVersion, version.dwMinorVersion);
    if (version.dwMajorVersion != 5 || version.dwMinorVersion != 2) {
        OSVERSIONINFOEXW extended = {};
        extended.dwOSVersionInfoSize = sizeof extended;
        ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended)));
        facts.productType = extended.wProductType;
        EXPECT_EQ(description.versionCode, OsVersionCode(facts));
    }
}

}  // namespace
