#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "app/Resource.h"
#include "app/controls/SkinRegion.h"

namespace {

constexpr uint32_t kYellowRgb = 0xFFFF00;      // 0x00RRGGBB
constexpr COLORREF kYellowColourRef = 0x00FFFF;  // 0x00BBGGRR

bool SameRuns(const std::vector<SkinRegion::Run>& runs, const std::vector<SkinRegion::Run>& expected) {
    if (runs.size() != expected.size()) return false;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].left != expected[i].left || runs[i].right != expected[i].right || runs[i].y != expected[i].y)
            return false;
    }
    return true;
}

TEST(SkinRegion, RunsCoverEveryOpaquePixelRowByRow) {
    const uint32_t Y = kYellowRgb, B = 0x203040, W = 0xFFFFFF;
    // row 0: all transparent; row 1: opaque inside a transparent border; row 2: a hole splits the run;
    // row 3: all opaque; the high byte is not part of the colour.
    const uint32_t pixels[] = {
        Y, Y, Y, Y, Y,
        Y, B, W, B, Y,
        B, Y, Y, W, W,
        B, B, B, B, 0xAA000000u | B,
    };
    auto runs = SkinRegion::FindOpaqueRuns(pixels, 5, 4, kYellowRgb);
    EXPECT_TRUE(SameRuns(runs, {{1, 4, 1}, {0, 1, 2}, {3, 5, 2}, {0, 5, 3}}));

    const uint32_t yellowWithAlpha[] = {0xFF000000u | Y, Y};
    EXPECT_TRUE(SkinRegion::FindOpaqueRuns(yellowWithAlpha, 2, 1, kYellowRgb).empty());
    EXPECT_TRUE(SkinRegion::FindOpaqueRuns(nullptr, 5, 4, kYellowRgb).empty());
    EXPECT_TRUE(SkinRegion::FindOpaqueRuns(pixels, 0, 4, kYellowRgb).empty());
}

HBITMAP MakeBitmap(int width, int height, uint32_t fill, uint32_t** bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* memory = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    *bits = static_cast<uint32_t*>(memory);
    for (int i = 0; i < width * height; ++i) (*bits)[i] = fill;
    GdiFlush();
    return bitmap;
}

TEST(SkinRegion, RegionLeavesOutTheYellowBorderAndHoles) {
    uint32_t* bits = nullptr;
    HBITMAP bitmap = MakeBitmap(10, 6, 0x336699, &bits);
    ASSERT_NE(bitmap, nullptr);
    for (int x = 0; x < 10; ++x) bits[x] = bits[5 * 10 + x] = kYellowRgb;
    for (int y = 0; y < 6; ++y) bits[y * 10] = bits[y * 10 + 9] = kYellowRgb;
    bits[3 * 10 + 4] = kYellowRgb;  // a hole in the middle
    GdiFlush();

    HRGN region = SkinRegion::Build(bitmap, kYellowColourRef);
    ASSERT_NE(region, nullptr);
    RECT box;
    EXPECT_EQ(GetRgnBox(region, &box), COMPLEXREGION);
    EXPECT_EQ(box.left, 1);
    EXPECT_EQ(box.top, 1);
    EXPECT_EQ(box.right, 9);
    EXPECT_EQ(box.bottom, 5);
    EXPECT_FALSE(PtInRegion(region, 0, 0));
    EXPECT_FALSE(PtInRegion(region, 9, 3));
    EXPECT_FALSE(PtInRegion(region, 4, 3));
    EXPECT_TRUE(PtInRegion(region, 1, 1));
    EXPECT_TRUE(PtInRegion(region, 5, 3));
    EXPECT_TRUE(PtInRegion(region, 8, 4));
    DeleteObject(region);

    // Magenta, the default transparent colour, appears nowhere: the whole bitmap is the region.
    region = SkinRegion::Build(bitmap, RGB(255, 0, 255));
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(GetRgnBox(region, &box), SIMPLEREGION);
    EXPECT_EQ(box.right, 10);
    EXPECT_EQ(box.bottom, 6);
    DeleteObject(region);
    DeleteObject(bitmap);

    EXPECT_EQ(SkinRegion::Build(nullptr, kYellowColourRef), nullptr);
}

TEST(SkinRegion, ShippedSkinIsRoundedAndOpaqueInside) {
    HBITMAP skin = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_SKIN), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(skin, nullptr);
    BITMAP info;
    GetObjectW(skin, sizeof(info), &info);
    HRGN region = SkinRegion::Build(skin, kYellowColourRef);
    ASSERT_NE(region, nullptr);
    const int w = info.bmWidth, h = info.bmHeight;
    EXPECT_FALSE(PtInRegion(region, 0, 0));
    EXPECT_FALSE(PtInRegion(region, w - 1, 0));
    EXPECT_FALSE(PtInRegion(region, 0, h - 1));
    EXPECT_FALSE(PtInRegion(region, w - 1, h - 1));
    EXPECT_TRUE(PtInRegion(region, w / 2, 0));
    EXPECT_TRUE(PtInRegion(region, 0, h / 2));
    EXPECT_TRUE(PtInRegion(region, w / 2, h / 2));
    EXPECT_TRUE(PtInRegion(region, w - 1, h / 2));
    DeleteObject(region);
    DeleteObject(skin);
}

uint32_t Crc32(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// The pixels a bitmap resource shows, as 32-bit B, G, R, 0 words from the top row down.
std::vector<uint8_t> ShownPixels(UINT id) {
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap) return {};
    BITMAP info = {};
    GetObjectW(bitmap, sizeof info, &info);
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = info.bmWidth;
    format.bmiHeader.biHeight = -info.bmHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> pixels(static_cast<size_t>(info.bmWidth) * info.bmHeight * 4);
    HDC dc = CreateCompatibleDC(nullptr);
    const int rows = GetDIBits(dc, bitmap, 0, info.bmHeight, pixels.data(), &format, DIB_RGB_COLORS);
    DeleteDC(dc);
    DeleteObject(bitmap);
    if (rows != info.bmHeight) return {};
    for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 0;
    return pixels;
}

TEST(ShippedBitmaps, ShowExactlyThePixelsTheyWereDrawnWith) {
    // Checksums of the drawings as tools/make_ui_images.py made them (24-bit); the close buttons are
    // stored with a 4-bit palette since, which must not change a pixel on screen.
    EXPECT_EQ(0xA06761D9u, Crc32(ShownPixels(IDB_CLOSE_NORMAL)));
    EXPECT_EQ(0xB22102E8u, Crc32(ShownPixels(IDB_CLOSE_PUSHED)));
    EXPECT_EQ(0xC0F72AFDu, Crc32(ShownPixels(IDB_SKIN)));
}

}  // namespace
