// When AutoRun counts as off for good, decided on values the test builds.
#include <gtest/gtest.h>

#include "platform/system/AutoRunSetting.h"

namespace {

RegistryValueFacts Text(const std::wstring& text, DWORD type = REG_SZ, bool terminated = true) {
    RegistryValueFacts value;
    value.present = true;
    value.type = type;
    for (wchar_t c : text) value.data.insert(value.data.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
    if (terminated) value.data.insert(value.data.end(), {0, 0});
    return value;
}

bool OffWith(const RegistryValueFacts& mapping, const RegistryValueFacts& policy = RegistryValueFacts()) {
    AutoRunFacts facts;
    facts.readable = true;
    facts.mapping = mapping;
    facts.noDriveType = policy;
    return AutoRun::IsOff(facts);
}

TEST(AutoRunSetting, OnlyTheMappingTurnsItOffForGood) {
    EXPECT_TRUE(OffWith(AutoRun::OffMapping()));
    EXPECT_TRUE(OffWith(Text(L"@sys:doesnotexist")));
    EXPECT_TRUE(OffWith(Text(L"@SYS:DoesNotExist", REG_SZ, false)));  // stored without its NUL
    EXPECT_FALSE(OffWith(RegistryValueFacts(), AutoRun::OffNoDriveType()));  // the policy alone misses cases
    EXPECT_FALSE(OffWith(Text(L"@SYS:DoesNotExist", REG_EXPAND_SZ)));
    EXPECT_FALSE(OffWith(Text(L"@SYS:DoesNotExist ")));
    EXPECT_FALSE(OffWith(Text(std::wstring(L"@SYS:DoesNotExist\0x", 19))));
    EXPECT_FALSE(OffWith(Text(L"")));
    RegistryValueFacts odd = AutoRun::OffMapping();
    odd.data.pop_back();
    EXPECT_FALSE(OffWith(odd));
}

}  // namespace
