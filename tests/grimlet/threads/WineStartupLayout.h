#pragma once
// Where Wine 8's thread start-up code leaves its marks on a fresh thread's stack. Wine reports
// Windows 7, so the search counts from the top non-zero word (the start address, or the parameter
// when the thread has one), but its start-up frames differ from Windows 7's: the return address into
// ntdll lies 4 words below the start address on the 32-bit tier and 26 words below it on the 64-bit
// tier, where the shipped constants expect 7 (and 8 with a parameter). Tests that follow a real thread
// through the whole search set these distances; the shipped constants stay as they are.
#include "grimlet/DescribeOs.h"
#include "grimlet/OsInfo.h"

namespace grimlettest {

inline void UseWineStartupLayout(OsInfo& os) {
    os.versionCode = kOsWindows7;
    os.majorVersion = 6;
#ifdef _WIN64
    os.depthA = 26;
    os.depthB = 27;
#else
    os.depthA = 4;
    os.depthB = 5;
#endif
    os.pickA = 0;
    os.pickB = 1;
    os.markA = 0;
    os.markB = 0;
}

}  // namespace grimlettest
