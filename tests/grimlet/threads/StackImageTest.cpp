// Reading a thread's start address from images of its stack, for every layout of the constants table,
// and learning a layout from the stacks of two probe threads where the table does not fit.
#include <gtest/gtest.h>

#include <algorithm>

#include "grimlet/common/DescribeOs.h"
#include "grimlet/threads/OsInfo.h"
#include "grimlet/threads/StackImage.h"
#include "grimlet/threads/StackLayoutLearner.h"

namespace {

constexpr StackWord kMarkA = 0x7C80B713;  // return addresses into the system's start-up code
constexpr StackWord kMarkB = 0x7C80B729;
constexpr StackWord kStart = 0x00A40000;  // the thread's start address
constexpr StackWord kParameter = 0x00001234;

OsInfo System(uint32_t versionCode, bool underWow64, StackWord markA = kMarkA, StackWord markB = kMarkB) {
    OsInfo os;
    os.versionCode = versionCode;
    os.SetStackConstants(underWow64);
    os.markA = markA;
    os.markB = markB;
    return os;
}

// A stack of `size` words whose words are addressed by their distance below a reference point:
// the stack base (Below) or a given word index (At).
class StackBuilder {
public:
    explicit StackBuilder(std::size_t size) : words_(size, 0x0BADF00D) {}
    StackBuilder& Below(int32_t distance, StackWord value) {
        words_[words_.size() - static_cast<std::size_t>(distance)] = value;
        return *this;
    }
    StackBuilder& At(std::size_t index, StackWord value) {
        words_[index] = value;
        return *this;
    }
    StackBuilder& ZeroTop(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) words_[words_.size() - 1 - i] = 0;
        return *this;
    }
    StackImage Build() const { return StackImage(words_); }
    std::size_t Size() const { return words_.size(); }

private:
    std::vector<StackWord> words_;
};

StackWord StartOf(const StackImage& image, const OsInfo& os) {
    StackWord start = 0;
    return image.FindStart(os, start) ? start : 0;
}

TEST(StackConstants, EachSystemGetsItsRow) {
    struct Row {
        uint32_t code;
        bool wow64;
        int32_t depthA, depthB, pickA, pickB;
    } rows[] = {
        {kOsWindowsXp, false, 15, 18, 2, 3},     {kOsWindows2000, false, 15, 18, 2, 3},
        {kOsUnknown, false, 15, 18, 2, 3},       {kOsWindowsXp, true, 15, 17, 2, 3},
        {kOsServer2003, false, 15, 17, 2, 3},    {kOsVista, false, 7, 8, 0, 1},
        {kOsServer2008, false, 7, 8, 0, 1},      {kOsWindows7, false, 7, 8, 0, 1},
        {kOsWindows7, true, 7, 8, 0, 1},  // the Vista row wins over WOW64
    };
    for (const Row& row : rows) {
        OsInfo os = System(row.code, row.wow64);
        SCOPED_TRACE(testing::Message() << std::hex << row.code << " wow64=" << row.wow64);
        EXPECT_EQ(row.depthA, os.depthA);
        EXPECT_EQ(row.depthB, os.depthB);
        EXPECT_EQ(row.pickA, os.pickA);
        EXPECT_EQ(row.pickB, os.pickB);
        EXPECT_EQ(row.code >= kOsVista && row.code <= kOsWindows7, os.StartsWithZeroWalk());
    }
}

TEST(StackImage, BeforeVistaCountsFromTheStackBaseWithBothPicks) {
    for (bool wow64 : {false, true}) {
        const OsInfo os = System(kOsWindowsXp, wow64);
        SCOPED_TRACE(wow64 ? "WOW64 row" : "default row");
        // markA in its slot: the start address is pickA below the base.
        const StackImage first = StackBuilder(40).Below(os.depthA, kMarkA).Below(os.pickA, kStart).Build();
        EXPECT_EQ(kStart, StartOf(first, os));
        // Only markB in its slot: pickB.
        const StackImage second = StackBuilder(40).Below(os.depthB, kMarkB).Below(os.pickB, kStart).Build();
        EXPECT_EQ(kStart, StartOf(second, os));
        // Before Vista the top zero words are not skipped: the slots are counted from the base itself.
        const StackImage shifted = StackBuilder(40).ZeroTop(3).Below(os.depthA + 3, kMarkA).Below(os.pickA + 3, kStart).Build();
        EXPECT_EQ(0u, StartOf(shifted, os));
    }
}

TEST(StackImage, FromVistaCountsFromTheTopNonZeroWord) {
    const OsInfo os = System(kOsWindows7, false);
    // Thread without a parameter: the start address is the top non-zero word, markA 7 below it.
    StackBuilder withoutParameter(40);
    withoutParameter.ZeroTop(5);
    const std::size_t anchor = withoutParameter.Size() - 6;
    withoutParameter.At(anchor, kStart).At(anchor - 7, kMarkA);
    EXPECT_EQ(kStart, StartOf(withoutParameter.Build(), os));

    // With a parameter: the parameter is the top non-zero word, the start address one below, markB 8 below.
    StackBuilder withParameter(40);
    withParameter.ZeroTop(4);
    const std::size_t top = withParameter.Size() - 5;
    withParameter.At(top, kParameter).At(top - 1, kStart).At(top - 8, kMarkB);
    EXPECT_EQ(kStart, StartOf(withParameter.Build(), os));

    // From Vista on both marks hold the same value; a parameter thread then matches through depthB.
    const OsInfo calibrated = System(kOsWindows7, false, kMarkA, kMarkA);
    StackBuilder sameMark(40);
    sameMark.ZeroTop(2);
    const std::size_t anchor2 = sameMark.Size() - 3;
    sameMark.At(anchor2, kParameter).At(anchor2 - 1, kStart).At(anchor2 - 8, kMarkA);
    EXPECT_EQ(kStart, StartOf(sameMark.Build(), calibrated));
}

TEST(StackImage, NoMarkNoStart) {
    const OsInfo os = System(kOsWindowsXp, false);
    EXPECT_EQ(0u, StartOf(StackBuilder(40).Below(os.pickA, kStart).Build(), os));
    // A mark that would lie below the copied part of the stack is not read.
    EXPECT_EQ(0u, StartOf(StackBuilder(10).Below(os.pickA, kStart).Build(), os));
    EXPECT_EQ(0u, StartOf(StackImage(), os));
    // Vista layout on a stack that is zero throughout: nothing to anchor on.
    EXPECT_EQ(0u, StartOf(StackImage(std::vector<StackWord>(40, 0)), System(kOsVista, false)));
    // Vista layout with the mark just outside the copy.
    StackBuilder shortStack(7);
    shortStack.ZeroTop(1).At(5, kStart);
    EXPECT_EQ(0u, StartOf(shortStack.Build(), System(kOsVista, false)));
}

TEST(StackImage, AFirstMarkInItsSlotDoesNotHideTheSecond) {
    // Before Vista the first slot may hold the first mark by chance while the stack is of the second
    // kind: the start is then where the second mark says.
    const OsInfo os = System(kOsWindowsXp, false);
    const StackImage image = StackBuilder(40).Below(os.depthA, kMarkA).Below(os.depthB, kMarkB).Below(os.pickB, kStart).Build();
    EXPECT_TRUE(image.ShowsStart(os, kStart));
    EXPECT_NE(kStart, StartOf(image, os)) << "the first candidate alone misreads it";
    EXPECT_FALSE(image.ShowsStart(os, kParameter));
    EXPECT_FALSE(image.ShowsStart(os, 0));
    EXPECT_FALSE(image.ShowsStart(System(kOsWindowsXp, false, kMarkA, 0), kStart)) << "no second mark";
}

TEST(StackImage, AnUncalibratedMarkNeverMatchesZeroPadding) {
    // Marks of 0 (calibration did not run or found nothing): the zero words of a fresh stack must not
    // be taken for the mark, or any word would pass for a start address.
    const OsInfo xp = System(kOsWindowsXp, false, 0, 0);
    StackBuilder padded(40);
    padded.Below(xp.depthA, 0).Below(xp.depthB, 0).Below(xp.pickA, kStart);
    EXPECT_EQ(0u, StartOf(padded.Build(), xp));

    const OsInfo vista = System(kOsWindows7, false, 0, 0);
    StackBuilder vistaStack(40);
    vistaStack.ZeroTop(3);
    const std::size_t anchor = vistaStack.Size() - 4;
    vistaStack.At(anchor, kStart).At(anchor - 7, 0).At(anchor - 8, 0);
    EXPECT_EQ(0u, StartOf(vistaStack.Build(), vista));

    // Only markB uncalibrated (its thread did not finish in time): markA still works.
    const OsInfo halfCalibrated = System(kOsWindowsXp, false, kMarkA, 0);
    EXPECT_EQ(kStart, StartOf(StackBuilder(40).Below(15, kMarkA).Below(2, kStart).Build(), halfCalibrated));
    EXPECT_EQ(0u, StartOf(StackBuilder(40).Below(18, 0).Below(3, kStart).Build(), halfCalibrated));
}

// Stacks of probe threads as a system unlike the table's leaves them: the top non-zero word is the
// start address (or the parameter above it), and the return addresses into the system lie at other
// distances than the table's.
constexpr StackWord kSystemReturns[] = {kMarkA, kMarkB, 0x7C801000};
constexpr StackWord kNoise = 0x0012FF80;  // a pointer into the stack: never the same on two threads

bool InSystemCode(StackWord word) {
    return std::find(std::begin(kSystemReturns), std::end(kSystemReturns), word) != std::end(kSystemReturns);
}

// `below` lists the words under the start address, nearest first.
StackImage ProbeStack(bool withParameter, std::vector<StackWord> below, StackWord start = kStart) {
    std::vector<StackWord> words(40, kNoise);
    std::size_t slot = words.size() - 4;  // three zero words above
    std::fill(words.begin() + static_cast<std::ptrdiff_t>(slot) + 1, words.end(), 0);
    if (withParameter) words[slot--] = kParameter;
    words[slot] = start;
    for (StackWord word : below) words[--slot] = word;
    return StackImage(words);
}

OsInfo Learned(const StackImage& bare, const StackImage& carrying, uint32_t versionCode = kOsWindows7) {
    OsInfo os = System(versionCode, false, 0, 0);
    if (!StackLayoutLearner(InSystemCode).Learn(bare, carrying, kStart, os)) os.markA = os.markB = 0;
    return os;
}

TEST(StackLayoutLearner, TakesTheNearestReturnAddressBothProbesShareAndReadsOtherThreadsWithIt) {
    // Nearest first: noise, a system word the two stacks disagree on, a shared word outside the
    // system, then the shared return address.
    const StackImage bare = ProbeStack(false, {kNoise, kMarkB, 0x1000, kMarkA, 0x7C801000});
    const StackImage carrying = ProbeStack(true, {kNoise + 8, 0x7C801000, 0x1000, kMarkA, 0x7C801000});
    const OsInfo os = Learned(bare, carrying);
    EXPECT_EQ(kMarkA, os.markA);
    EXPECT_EQ(kMarkA, os.markB);
    EXPECT_EQ(4, os.depthA);
    EXPECT_EQ(0, os.pickA);
    EXPECT_EQ(5, os.depthB);
    EXPECT_EQ(1, os.pickB);
    EXPECT_EQ(kOsWindows7, os.versionCode);  // the version, and with it the anchor, stays

    // A worm thread of another process: another start, with and without a parameter.
    const StackWord wormStart = 0x00A70000;
    EXPECT_EQ(wormStart, StartOf(ProbeStack(false, {1, 2, 3, kMarkA}, wormStart), os));
    EXPECT_EQ(wormStart, StartOf(ProbeStack(true, {1, 2, 3, kMarkA}, wormStart), os));
    EXPECT_EQ(0u, StartOf(ProbeStack(true, {1, 2, 3, kMarkB}, wormStart), os));
}

TEST(StackLayoutLearner, BeforeVistaCountsFromTheStackBase) {
    // The parameter has a slot of its own above the start address there, NULL or not, and the words
    // above the start count: both picks are 4.
    std::vector<StackWord> carrying = ProbeStack(false, {kNoise + 4, kMarkA}).Words();
    carrying[carrying.size() - 3] = kParameter;
    const OsInfo os = Learned(ProbeStack(false, {kNoise, kMarkA}), StackImage(carrying), kOsWindowsXp);
    EXPECT_EQ(4, os.pickA);
    EXPECT_EQ(4, os.pickB);
    EXPECT_EQ(6, os.depthA);
    EXPECT_EQ(6, os.depthB);
    EXPECT_EQ(kMarkA, os.markA);
}

TEST(StackLayoutLearner, PassesOverASlotThatLetsTheParameterProbePassForTheOtherKind) {
    // With the return address 2 below the start, the probe with a parameter shows it 2 below its
    // anchor as well, where the first kind would take the parameter for the start.
    const StackImage bare = ProbeStack(false, {kNoise, kMarkA, kMarkB});
    const StackImage carrying = ProbeStack(true, {kMarkA, kMarkA, kMarkB});
    const OsInfo os = Learned(bare, carrying);
    EXPECT_EQ(kMarkB, os.markA);
    EXPECT_EQ(3, os.depthA);
    EXPECT_EQ(kStart, StartOf(carrying, os));
}

TEST(StackLayoutLearner, LearnsNothingWithoutAStartOrASharedReturnAddress) {
    const StackImage carrying = ProbeStack(true, {kNoise, kMarkA});
    EXPECT_EQ(0u, Learned(ProbeStack(false, {kNoise, kMarkB}), carrying).markA) << "no shared return address";
    EXPECT_EQ(0u, Learned(ProbeStack(false, {kNoise, kMarkA}, 0x00B00000), carrying).markA) << "start not on the stack";
    EXPECT_EQ(0u, Learned(StackImage(), carrying).markA);
    // The shared return address lies below the copied part of one stack.
    const std::vector<StackWord> full = ProbeStack(false, {kNoise, kMarkA}).Words();
    EXPECT_EQ(0u, Learned(StackImage({full.end() - 5, full.end()}), carrying).markA);
}

}  // namespace
