#include "grimlet/common/DescribeOs.h"

bool DescribeOs(OsDescription& description) {
    OsVersionFacts facts;
    if (!ReadOsVersionFacts(facts)) return false;
    description.majorVersion = facts.majorVersion;
    description.versionCode = OsVersionCode(facts);
    return true;
}
