#include <gtest/gtest.h>

#include <windows.h>

#include "app/Resource.h"
#include "app/controls/GifSplitter.h"
#include "tests/app/GifBuilder.h"

using gifbuilder::Build;
using gifbuilder::FrameSpec;

namespace {

std::vector<uint8_t> BusyAnimationResource() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(IDR_BUSY_GIF), L"GIF");
    if (!found) return {};
    const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(self, found)));
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(self, found));
}

uint16_t Le16(const std::vector<uint8_t>& data, size_t at) {
    return static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
}

TEST(GifSplitter, ShippedBusyAnimationHasEightFramesOfOneTenthSecondKeptInPlace) {
    std::vector<uint8_t> gif = BusyAnimationResource();
    ASSERT_FALSE(gif.empty());
    GifSplitter splitter;
    ASSERT_TRUE(splitter.Split(gif.data(), gif.size()));
    EXPECT_EQ(splitter.ScreenWidth(), 16);
    EXPECT_EQ(splitter.ScreenHeight(), 16);
    ASSERT_EQ(splitter.Frames().size(), 8u);
    for (const GifFrameData& frame : splitter.Frames()) {
        EXPECT_EQ(frame.delay, 10);
        EXPECT_EQ(frame.disposal, 1);
        EXPECT_EQ(frame.width, 16);
        EXPECT_EQ(frame.height, 16);
        EXPECT_EQ(frame.left, 0);
        EXPECT_EQ(frame.top, 0);
    }
}

TEST(GifSplitter, EachFrameBecomesAStandAloneGifAtTheOriginWithItsOwnTiming) {
    std::vector<FrameSpec> frames(3);
    frames[0] = {0, 0, 6, 4, true, 7, 2, 1};
    frames[1] = {3, 2, 2, 1, true, 0, 3, 2};
    frames[2] = {1, 1, 4, 3, false, 0, 0, 3};
    std::vector<uint8_t> gif = Build(6, 4, frames, 2);
    GifSplitter splitter;
    ASSERT_TRUE(splitter.Split(gif.data(), gif.size()));
    ASSERT_EQ(splitter.Frames().size(), 3u);
    EXPECT_TRUE(splitter.HasBackgroundColour());
    EXPECT_EQ(splitter.BackgroundRgb(), 0x00FF00u);

    const GifFrameData& second = splitter.Frames()[1];
    EXPECT_EQ(second.left, 3);
    EXPECT_EQ(second.top, 2);
    EXPECT_EQ(second.width, 2);
    EXPECT_EQ(second.height, 1);
    EXPECT_EQ(second.delay, 0);
    EXPECT_EQ(second.disposal, 3);
    EXPECT_EQ(splitter.Frames()[0].delay, 7);
    EXPECT_EQ(splitter.Frames()[0].disposal, 2);
    // Without a graphic control extension: no delay, no disposal, not the previous frame's values.
    EXPECT_EQ(splitter.Frames()[2].delay, -1);
    EXPECT_EQ(splitter.Frames()[2].disposal, 0);

    for (const GifFrameData& frame : splitter.Frames()) {
        ASSERT_TRUE(GifSplitter::HasSignature(frame.gif.data(), frame.gif.size()));
        EXPECT_EQ(frame.gif.back(), 0x3B);
        EXPECT_EQ(Le16(frame.gif, 6), frame.width);
        EXPECT_EQ(Le16(frame.gif, 8), frame.height);
        // The copy parses back into exactly this frame, placed at (0, 0).
        GifSplitter again;
        ASSERT_TRUE(again.Split(frame.gif.data(), frame.gif.size()));
        ASSERT_EQ(again.Frames().size(), 1u);
        EXPECT_EQ(again.Frames()[0].left, 0);
        EXPECT_EQ(again.Frames()[0].top, 0);
        EXPECT_EQ(again.Frames()[0].width, frame.width);
        EXPECT_EQ(again.Frames()[0].delay, frame.delay);
        EXPECT_EQ(again.Frames()[0].disposal, frame.disposal);
    }
    // The global colour table travels with every frame.
    EXPECT_TRUE(std::equal(gif.begin() + 10, gif.begin() + 13 + 12, splitter.Frames()[1].gif.begin() + 10));
}

TEST(GifSplitter, FramesWithoutDelayOrWithTinyDelaysPlayAtOneHundredMilliseconds) {
    EXPECT_EQ(GifFrameWaitMilliseconds(-1), 100u);
    for (int delay = 0; delay <= 4; ++delay) EXPECT_EQ(GifFrameWaitMilliseconds(delay), 100u) << delay;
    EXPECT_EQ(GifFrameWaitMilliseconds(5), 50u);
    EXPECT_EQ(GifFrameWaitMilliseconds(10), 100u);
    EXPECT_EQ(GifFrameWaitMilliseconds(65535), 655350u);
}

TEST(GifSplitter, RejectsDataThatIsNotAGifOrHoldsNoImage) {
    GifSplitter splitter;
    EXPECT_FALSE(splitter.Split(nullptr, 0));
    const uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(splitter.Split(png, sizeof(png)));
    std::vector<uint8_t> noImages = Build(4, 4, {});
    EXPECT_FALSE(splitter.Split(noImages.data(), noImages.size()));
    EXPECT_TRUE(splitter.Frames().empty());

    std::vector<uint8_t> gif87 = Build(2, 2, {FrameSpec()});
    gif87[4] = '7';
    EXPECT_TRUE(splitter.Split(gif87.data(), gif87.size()));
    gif87[4] = '8';
    EXPECT_FALSE(splitter.Split(gif87.data(), gif87.size()));
}

TEST(GifSplitter, TruncatedStreamsFailInsideABlockAndNeverReadPastTheEnd) {
    std::vector<uint8_t> gif = Build(4, 4, {FrameSpec{0, 0, 4, 4, true, 10, 1, 1}, FrameSpec{0, 0, 4, 4, true, 10, 1, 2}});
    GifSplitter whole;
    ASSERT_TRUE(whole.Split(gif.data(), gif.size()));
    const size_t firstFrameBytes = whole.Frames()[0].gif.size() - 1 - (13 + 12);
    const size_t firstImageEnd = 13 + 12 + firstFrameBytes;

    for (size_t length = 0; length < gif.size(); ++length) {
        // A copy of exactly `length` bytes, so that a read past the end would leave the allocation.
        std::vector<uint8_t> cut(gif.begin(), gif.begin() + static_cast<long>(length));
        GifSplitter splitter;
        bool ok = splitter.Split(cut.data(), cut.size());
        const size_t secondControlExtensionEnd = firstImageEnd + 8;
        if (length == firstImageEnd || length == secondControlExtensionEnd || length == gif.size() - 1) {
            // Stops right after a complete block: the complete images are kept.
            EXPECT_TRUE(ok) << length;
            EXPECT_EQ(splitter.Frames().size(), length == gif.size() - 1 ? 2u : 1u);
        } else {
            EXPECT_FALSE(ok) << length;
            EXPECT_TRUE(splitter.Frames().empty());
        }
    }
}

TEST(GifSplitter, MalformedBlocksAreRejected) {
    std::vector<uint8_t> gif = Build(2, 2, {FrameSpec(), FrameSpec()});
    GifSplitter splitter;

    std::vector<uint8_t> unknownBlock = gif;
    unknownBlock[13 + 12] = 0x99;  // where the first extension starts
    EXPECT_FALSE(splitter.Split(unknownBlock.data(), unknownBlock.size()));

    std::vector<uint8_t> hugeTable = gif;
    hugeTable[10] = 0x87;  // a global table of 256 entries that is not there
    EXPECT_FALSE(splitter.Split(hugeTable.data(), hugeTable.size()));

    std::vector<uint8_t> longSubBlock = gif;
    longSubBlock[13 + 12 + 8 + 10 + 1] = 0xFF;  // first data sub-block claims 255 bytes
    EXPECT_FALSE(splitter.Split(longSubBlock.data(), longSubBlock.size()));

    // A background index beyond the table is ignored rather than read.
    std::vector<uint8_t> farBackground = gif;
    farBackground[11] = 200;
    ASSERT_TRUE(splitter.Split(farBackground.data(), farBackground.size()));
    EXPECT_FALSE(splitter.HasBackgroundColour());
}

TEST(GifSplitter, ArbitraryBytesAfterAValidHeaderNeverCrash) {
    std::vector<uint8_t> base = Build(3, 3, {FrameSpec{0, 0, 3, 3, true, 10, 1, 1}});
    uint32_t seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> data(base.begin(), base.begin() + 13 + 12);
        size_t extra = (seed >> 8) % 64;
        for (size_t i = 0; i < extra; ++i) {
            seed = seed * 1103515245u + 12345u;
            data.push_back(static_cast<uint8_t>(seed >> 16));
        }
        // Sprinkle real introducers so that the parser goes deep into blocks.
        if (data.size() > 26) data[25] = (round % 3 == 0) ? 0x21 : 0x2C;
        GifSplitter splitter;
        if (splitter.Split(data.data(), data.size())) {
            for (const GifFrameData& frame : splitter.Frames()) EXPECT_LE(frame.gif.size(), data.size() + 1);
        }
    }
}

}  // namespace
