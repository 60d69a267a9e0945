#include "app/controls/SkinRegion.h"

namespace SkinRegion {

std::vector<Run> FindOpaqueRuns(const uint32_t* pixels, int width, int height, uint32_t transparentRgb) {
    std::vector<Run> runs;
    if (!pixels || width <= 0 || height <= 0) return runs;
    transparentRgb &= 0x00FFFFFF;
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
        int x = 0;
        while (x < width) {
            while (x < width && (row[x] & 0x00FFFFFF) == transparentRgb) ++x;
            if (x == width) break;
            int start = x;
            while (x < width && (row[x] & 0x00FFFFFF) != transparentRgb) ++x;
            runs.push_back({start, x, y});
        }
    }
    return runs;
}

HRGN Build(HBITMAP bitmap, COLORREF transparent) {
    BITMAP info = {};
    if (!bitmap || !GetObjectW(bitmap, sizeof(info), &info) || info.bmWidth <= 0 || info.bmHeight <= 0)
        return nullptr;
    const int width = info.bmWidth;
    const int height = info.bmHeight;

    // Read the pixels as top-down 32-bit values whatever the bitmap's own format.
    BITMAPINFO request = {};
    request.bmiHeader.biSize = sizeof(request.bmiHeader);
    request.bmiHeader.biWidth = width;
    request.bmiHeader.biHeight = -height;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    HDC screen = GetDC(nullptr);
    int lines = GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), pixels.data(), &request, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (lines != height) return nullptr;

    const uint32_t transparentRgb =
        (uint32_t(GetRValue(transparent)) << 16) | (uint32_t(GetGValue(transparent)) << 8) | GetBValue(transparent);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    if (!region) return nullptr;
    for (const Run& run : FindOpaqueRuns(pixels.data(), width, height, transparentRgb)) {
        HRGN line = CreateRectRgn(run.left, run.y, run.right, run.y + 1);
        int combined = line ? CombineRgn(region, region, line, RGN_OR) : ERROR;
        if (line) DeleteObject(line);
        if (combined == ERROR) {
            DeleteObject(region);
            return nullptr;
        }
    }
    return region;
}

}  // namespace SkinRegion
