// The evidence that makes a file on a stick or a share the worm's copy, on built facts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grimlet/common/WormCopyEvidence.h"

namespace {

const std::string kWorm = "0123456789ABCDEF0123456789ABCDEF01234567";

// A stick from an infected machine: everything rule b asks for.
WormCopyFacts InfectedStick() {
    WormCopyFacts facts;
    facts.drive = CopyDrive::Removable;
    facts.sha1 = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";
    facts.peDll = Fact::Yes;
    facts.trustedSigned = Fact::No;
    facts.fileHiddenSystem = Fact::Yes;
    facts.infHiddenSystem = Fact::Yes;
    return facts;
}

}  // namespace

TEST(WormCopyEvidence, TheProvenHashCountsOnEveryDriveWhateverTheAttributes) {
    WormCopyFacts facts;  // a share, nothing else known
    facts.sha1 = "0123456789abcdef0123456789abcdef01234567";
    EXPECT_EQ(DecideWormCopy(facts, {"", kWorm}), WormCopyVerdict::SameAsProven);
    facts.drive = CopyDrive::Removable;
    facts.trustedSigned = Fact::Yes;
    EXPECT_EQ(DecideWormCopy(facts, {kWorm}), WormCopyVerdict::SameAsProven);
    // No hash proven in this scan, an unreadable file, or junk on either side: never a match.
    EXPECT_EQ(DecideWormCopy(facts, {}), WormCopyVerdict::NotWorm);
    facts.sha1.clear();
    EXPECT_EQ(DecideWormCopy(facts, {kWorm, ""}), WormCopyVerdict::NotWorm);
    facts.sha1 = "X123456789ABCDEF0123456789ABCDEF01234567";
    EXPECT_EQ(DecideWormCopy(facts, {facts.sha1}), WormCopyVerdict::NotWorm);
}

TEST(WormCopyEvidence, AStickNeedsAnUnsignedHiddenSystemDllAndAutorun) {
    EXPECT_EQ(DecideWormCopy(InfectedStick(), {kWorm}), WormCopyVerdict::InfectedStick);
    // Each missing or unknown fact, and the same facts on a share, leave the file alone.
    std::vector<WormCopyFacts> notEnough(10, InfectedStick());
    notEnough[0].drive = CopyDrive::Remote;
    notEnough[1].peDll = Fact::No;  // setup.exe
    notEnough[2].peDll = Fact::Unknown;
    notEnough[3].trustedSigned = Fact::Yes;
    notEnough[4].trustedSigned = Fact::Unknown;
    notEnough[5].fileHiddenSystem = Fact::No;  // plain attributes
    notEnough[6].fileHiddenSystem = Fact::Unknown;
    notEnough[7].infHiddenSystem = Fact::No;
    notEnough[8].infHiddenSystem = Fact::Unknown;
    notEnough[9].sha1.clear();  // an unreadable hash alone does not stop rule b
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_EQ(DecideWormCopy(notEnough[i], {kWorm}), WormCopyVerdict::NotWorm) << "case " << i;
    EXPECT_EQ(DecideWormCopy(notEnough[9], {kWorm}), WormCopyVerdict::InfectedStick);
}
