#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include "app/Resource.h"
#include "app/controls/PictureExWnd.h"
#include "tests/app/GifBuilder.h"

using gifbuilder::Build;
using gifbuilder::FrameSpec;

namespace {

class PictureFixture : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        host_ = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 200, nullptr,
                                nullptr, nullptr, nullptr);
        ASSERT_NE(host_, nullptr);
        frame_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, 20, 30, 13, 11, host_,
                                 nullptr, nullptr, nullptr);
        ASSERT_TRUE(picture_.Attach(frame_));
    }
    void TearDown() override {
        picture_.Unload();
        DestroyWindow(host_);
        CoUninitialize();
    }

    // Pumps messages for a while so that paints and the play thread get their turn.
    static void Pump(DWORD milliseconds) {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < milliseconds) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            Sleep(10);
        }
    }

    // Waits (up to a generous limit) until the play thread has shown `count` frames.
    bool WaitForFrames(LONG count) {
        for (int i = 0; i < 1000 && picture_.FramesShown() < count; ++i) Pump(10);
        return picture_.FramesShown() >= count;
    }

    HWND host_ = nullptr;
    HWND frame_ = nullptr;
    CPictureExWnd picture_;
};

TEST_F(PictureFixture, BusyAnimationLoadsEightFramesAndResizesTheControl) {
    ASSERT_TRUE(picture_.Load(GetModuleHandleW(nullptr), IDR_BUSY_GIF, L"GIF"));
    EXPECT_TRUE(picture_.IsGif());
    EXPECT_EQ(picture_.FrameCount(), 8u);
    EXPECT_EQ(picture_.PictureSize().cx, 16);
    EXPECT_EQ(picture_.PictureSize().cy, 16);
    RECT rect;
    GetClientRect(frame_, &rect);
    EXPECT_EQ(rect.right, 16);
    EXPECT_EQ(rect.bottom, 16);

    picture_.SetBackground(0xF0F0F0);
    EXPECT_EQ(picture_.PixelAt(0, 0), 0xF0F0F0u);
    ASSERT_TRUE(picture_.Draw());
    ASSERT_TRUE(WaitForFrames(3));
    EXPECT_TRUE(picture_.IsPlaying());
    EXPECT_TRUE(picture_.Stop());
    EXPECT_FALSE(picture_.IsPlaying());
    picture_.Unload();
    EXPECT_EQ(picture_.FrameCount(), 0u);
    EXPECT_FALSE(picture_.IsGif());
}

TEST_F(PictureFixture, MissingResourceOrBrokenDataLoadsNothing) {
    EXPECT_FALSE(picture_.Load(GetModuleHandleW(nullptr), 4242, L"GIF"));
    std::vector<uint8_t> gif = Build(4, 4, {FrameSpec{0, 0, 4, 4, true, 10, 1, 1}, FrameSpec{0, 0, 4, 4, true, 10, 1, 2}});
    for (size_t length : {size_t(5), size_t(13), size_t(30), gif.size() / 2}) {
        EXPECT_FALSE(picture_.LoadFromMemory(gif.data(), length)) << length;
        EXPECT_EQ(picture_.FrameCount(), 0u);
        EXPECT_FALSE(picture_.Draw());
    }
    const uint8_t junk[] = "this is not a picture at all";
    EXPECT_FALSE(picture_.LoadFromMemory(junk, sizeof(junk)));
}

TEST_F(PictureFixture, SingleImageGifIsAStillPictureWithoutAThread) {
    std::vector<uint8_t> gif = Build(4, 3, {FrameSpec{0, 0, 4, 3, true, 10, 1, 1}});
    ASSERT_TRUE(picture_.LoadFromMemory(gif.data(), gif.size()));
    EXPECT_EQ(picture_.FrameCount(), 0u);
    ASSERT_TRUE(picture_.Draw());
    Pump(50);
    EXPECT_FALSE(picture_.IsPlaying());
    EXPECT_EQ(picture_.FramesShown(), 0);
    EXPECT_EQ(picture_.PixelAt(1, 1), RGB(255, 0, 0));
}

TEST_F(PictureFixture, FramesWithoutTimingKeepPlaying) {
    // No graphic control extension at all: the animation must not freeze on its first frame.
    std::vector<uint8_t> gif = Build(2, 2, {FrameSpec{0, 0, 2, 2, false, 0, 0, 1}, FrameSpec{0, 0, 2, 2, false, 0, 0, 2}});
    ASSERT_TRUE(picture_.LoadFromMemory(gif.data(), gif.size()));
    ASSERT_EQ(picture_.FrameCount(), 2u);
    ASSERT_TRUE(picture_.Draw());
    EXPECT_TRUE(WaitForFrames(4));
    EXPECT_TRUE(picture_.Stop());
}

TEST_F(PictureFixture, ZeroDelaysPlayInsteadOfSpinning) {
    std::vector<uint8_t> gif = Build(2, 2, {FrameSpec{0, 0, 2, 2, true, 0, 1, 1}, FrameSpec{0, 0, 2, 2, true, 0, 1, 2}});
    ASSERT_TRUE(picture_.LoadFromMemory(gif.data(), gif.size()));
    ASSERT_TRUE(picture_.Draw());
    ASSERT_TRUE(WaitForFrames(2));
    EXPECT_TRUE(picture_.Stop());
}

TEST_F(PictureFixture, StopWakesThePlayThreadOutOfALongDelay) {
    // 655 seconds per frame: only the exit event can end the wait in time.
    std::vector<uint8_t> gif =
        Build(2, 2, {FrameSpec{0, 0, 2, 2, true, 65535, 1, 1}, FrameSpec{0, 0, 2, 2, true, 65535, 1, 2}});
    ASSERT_TRUE(picture_.LoadFromMemory(gif.data(), gif.size()));
    ASSERT_TRUE(picture_.Draw());
    ASSERT_TRUE(WaitForFrames(1));
    EXPECT_TRUE(picture_.Stop());
    // And it can play again afterwards.
    ASSERT_TRUE(picture_.Draw());
    EXPECT_TRUE(WaitForFrames(1));
    EXPECT_TRUE(picture_.Stop());
}

TEST_F(PictureFixture, DestroyingTheControlStopsThePlayThread) {
    ASSERT_TRUE(picture_.Load(GetModuleHandleW(nullptr), IDR_BUSY_GIF, L"GIF"));
    ASSERT_TRUE(picture_.Draw());
    ASSERT_TRUE(WaitForFrames(1));
    DestroyWindow(frame_);
    EXPECT_FALSE(picture_.IsPlaying());
    LONG shown = picture_.FramesShown();
    Pump(300);
    EXPECT_EQ(picture_.FramesShown(), shown);
}

TEST_F(PictureFixture, DisposalToBackgroundClearsTheFrameAreaBeforeTheNext) {
    // Frame 0 paints the whole 4x4 red and is then disposed to the background; frame 1 only covers (0,0).
    std::vector<uint8_t> gif = Build(4, 4, {FrameSpec{0, 0, 4, 4, true, 5, 2, 1}, FrameSpec{0, 0, 1, 1, true, 65535, 1, 3}});
    ASSERT_TRUE(picture_.LoadFromMemory(gif.data(), gif.size()));
    picture_.SetBackground(RGB(0, 255, 0));
    ASSERT_TRUE(picture_.Draw());
    ASSERT_TRUE(WaitForFrames(2));  // frame 1 then waits for 655 s: the image stands still
    EXPECT_EQ(picture_.PixelAt(0, 0), RGB(0, 0, 255));
    EXPECT_EQ(picture_.PixelAt(3, 3), RGB(0, 255, 0));
    EXPECT_TRUE(picture_.Stop());
}

TEST_F(PictureFixture, DisposalToPreviousRestoresWhatTheFrameCovered) {
    // Frame 0: all red, kept. Frame 1: (1,1) 2x2 blue, restored afterwards. Frame 2: (0,0) 1x1 white, then
    // the animation waits: (1,1) must be red again, not blue.
    std::vector<uint8_t> gif = Build(4, 4, {FrameSpec{0, 0, 4, 4, true, 5, 1, 1}, FrameSpec{1, 1, 2, 2, true, 5, 3, 3},
                                            FrameSpec{0, 0, 1, 1, true, 65535, 1, 0}});
    ASSERT_TRUE(picture_.LoadFromMemory(gif.data(), gif.size()));
    ASSERT_TRUE(picture_.Draw());
    ASSERT_TRUE(WaitForFrames(3));
    EXPECT_EQ(picture_.PixelAt(1, 1), RGB(255, 0, 0));
    EXPECT_EQ(picture_.PixelAt(0, 0), RGB(255, 255, 255));
    EXPECT_TRUE(picture_.Stop());
}

}  // namespace
