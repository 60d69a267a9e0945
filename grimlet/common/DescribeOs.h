#pragma once
// The product code of the running operating system, which the thread-stack calibration keys on. The
// code table and the system's description are shared with the host (platform/OsVersion).
#include <cstdint>

#include "platform/system/OsVersion.h"

struct OsDescription {
    uint32_t majorVersion = 0;
    uint32_t versionCode = kOsUnknown;
};

// Asks the system. False only when both version queries are refused (then `description` is unchanged).
bool DescribeOs(OsDescription& description);
