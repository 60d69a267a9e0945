#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

// The shape of a skinned window: every pixel of the skin that is not the transparent colour.
namespace SkinRegion {

struct Run {
    int left;   // first opaque pixel
    int right;  // one past the last
    int y;
};

// Maximal runs of opaque pixels, row by row, left to right. `pixels` are 0x00RRGGBB values, top row first.
std::vector<Run> FindOpaqueRuns(const uint32_t* pixels, int width, int height, uint32_t transparentRgb);

// The region of a bitmap's opaque pixels (each run a rectangle one pixel high, OR-combined); nullptr when
// the bitmap cannot be read or a combination fails. `transparent` is a COLORREF (0x00BBGGRR).
HRGN Build(HBITMAP bitmap, COLORREF transparent);

}  // namespace SkinRegion
