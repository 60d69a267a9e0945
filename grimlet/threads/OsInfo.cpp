#include "grimlet/threads/OsInfo.h"

#include "grimlet/common/DescribeOs.h"

namespace {

struct StackConstants {
    int32_t depthA, depthB, pickA, pickB;
};

// The thread start-up code of 32-bit Windows: before Vista the start address sits a fixed distance
// below the stack base; from Vista on, below the first non-zero word.
constexpr StackConstants kBeforeVista = {15, 18, 2, 3};
constexpr StackConstants kWow64OrServer2003 = {15, 17, 2, 3};
constexpr StackConstants kVistaFamily = {7, 8, 0, 1};

}  // namespace

bool OsInfo::StartsWithZeroWalk() const { return versionCode >= kOsVista && versionCode <= kOsWindows7; }

void OsInfo::SetStackConstants(bool underWow64) {
    StackConstants constants = kBeforeVista;
    if (StartsWithZeroWalk())
        constants = kVistaFamily;
    else if (underWow64 || versionCode == kOsServer2003)
        constants = kWow64OrServer2003;
    depthA = constants.depthA;
    depthB = constants.depthB;
    pickA = constants.pickA;
    pickB = constants.pickB;
}

OsInfo& OsInfo::Instance() {
    // Never freed: the search reads it until the process ends.
    static OsInfo* instance = new OsInfo();
    return *instance;
}
