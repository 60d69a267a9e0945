// The patch status of the hole the worm comes through, decided on the bulletin's table for systems the
// test describes, and read from this prefix.
#include <gtest/gtest.h>

#include "platform/system/PatchStatus.h"

namespace {

OsVersionFacts System(uint32_t major, uint32_t minor, uint16_t servicePack, uint32_t build) {
    OsVersionFacts os;
    os.platformId = 2;
    os.majorVersion = major;
    os.minorVersion = minor;
    os.servicePackMajor = servicePack;
    os.buildNumber = build;
    os.productType = 1;
    return os;
}

PatchState StateOf(const OsVersionFacts& os, FileVersionNumber file) { return DecideKb958644(os, &file).state; }

TEST(PatchStatus, EveryRowOfTheBulletinJustBelowAndAtItsVersion) {
    struct Case {
        OsVersionFacts os;
        FileVersionNumber fixed;
    };
    const Case cases[] = {
        {System(5, 0, 4, 2195), {5, 0, 2195, 7203}},  {System(5, 1, 2, 2600), {5, 1, 2600, 3462}},
        {System(5, 1, 3, 2600), {5, 1, 2600, 5694}},  {System(5, 2, 1, 3790), {5, 2, 3790, 3229}},
        {System(5, 2, 2, 3790), {5, 2, 3790, 4392}},  {System(6, 0, 0, 6000), {6, 0, 6000, 16764}},
        {System(6, 0, 1, 6001), {6, 0, 6001, 18157}},
    };
    for (const Case& c : cases) {
        FileVersionNumber below = c.fixed;
        --below.revision;
        FileVersionNumber above = c.fixed;
        ++above.build;
        EXPECT_EQ(PatchState::Missing, StateOf(c.os, below)) << c.fixed.major << "." << c.fixed.minor << "." << c.fixed.build;
        EXPECT_EQ(PatchState::Installed, StateOf(c.os, c.fixed));
        EXPECT_EQ(PatchState::Installed, StateOf(c.os, above));
    }
    // The reason names the version the fix brings, the record the file's own.
    const PatchVerdict verdict = DecideKb958644(System(5, 2, 2, 3790), nullptr);
    EXPECT_EQ(PatchState::Unknown, verdict.state);
    FileVersionNumber file = {5, 2, 3790, 4391};
    const PatchVerdict missing = DecideKb958644(System(5, 2, 2, 3790), &file);
    EXPECT_EQ(L"the fix brings 5.2.3790.4392", missing.reason);
    EXPECT_TRUE(missing.fileRead);
    EXPECT_EQ(L"5.2.3790.4391", missing.fileVersion.Text());
}

TEST(PatchStatus, VistasHotfixBranchHasItsOwnVersions) {
    EXPECT_EQ(PatchState::Missing, StateOf(System(6, 0, 0, 6000), {6, 0, 6000, 20936}));
    EXPECT_EQ(PatchState::Installed, StateOf(System(6, 0, 0, 6000), {6, 0, 6000, 20937}));
    EXPECT_EQ(PatchState::Missing, StateOf(System(6, 0, 1, 6001), {6, 0, 6001, 22287}));
    EXPECT_EQ(PatchState::Installed, StateOf(System(6, 0, 1, 6001), {6, 0, 6001, 22288}));
    // A general-distribution build above the branch's start is still judged on the branch.
    EXPECT_EQ(PatchState::Missing, StateOf(System(6, 0, 1, 6001), {6, 0, 6001, 20000}));
}

TEST(PatchStatus, LaterSystemsServicePacksThatCannotTakeItAndTheUnknown) {
    // SP2 of Vista and Server 2008 includes the fix, whatever the file says or whether it can be read.
    EXPECT_EQ(PatchState::Installed, DecideKb958644(System(6, 0, 2, 6002), nullptr).state);
    EXPECT_EQ(PatchState::NotAffected, DecideKb958644(System(6, 1, 1, 7601), nullptr).state);
    EXPECT_EQ(PatchState::NotAffected, DecideKb958644(System(10, 0, 0, 19045), nullptr).state);
    // Too old a service pack for any fix: missing, with the reason.
    for (const OsVersionFacts& os : {System(5, 1, 1, 2600), System(5, 2, 0, 3790), System(5, 0, 3, 2195)}) {
        const PatchVerdict verdict = DecideKb958644(os, nullptr);
        EXPECT_EQ(PatchState::Missing, verdict.state);
        EXPECT_NE(std::wstring::npos, verdict.reason.find(L"cannot take the fix"));
    }
    EXPECT_EQ(PatchState::Unknown, DecideKb958644(System(4, 0, 6, 1381), nullptr).state);
    OsVersionFacts nineX = System(4, 10, 0, 2222);
    nineX.platformId = 1;
    EXPECT_EQ(PatchState::Unknown, DecideKb958644(nineX, nullptr).state);
    EXPECT_EQ(PatchState::Unknown, StateOf(System(5, 1, 4, 2600), {5, 1, 2600, 9999})) << "a pack the bulletin does not list";

    EXPECT_STREQ(L"not affected", PatchStateWord(PatchState::NotAffected));
    EXPECT_STREQ(L"本机尚未安装KB958644补丁，请尽快安装。", PatchStatusLine(PatchState::Missing));
}

}  // namespace
