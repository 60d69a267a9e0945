#pragma once
// Splits a GIF into stand-alone single-image GIFs, one per frame, so that a picture loader that only
// understands still images can decode each frame. Plain C++ on purpose: no platform types, so the parser
// can be exercised on any host.
#include <cstddef>
#include <cstdint>
#include <vector>

struct GifFrameData {
    std::vector<uint8_t> gif;   // a complete GIF holding only this frame, placed at (0, 0)
    uint16_t left = 0;          // position and size from the frame's image descriptor
    uint16_t top = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    int32_t delay = -1;         // hundredths of a second; -1 without a graphic control extension
    uint8_t disposal = 0;       // disposal method of the graphic control extension (0 without one)
};

class GifSplitter {
public:
    // True when the data starts with "GIF87a" or "GIF89a".
    static bool HasSignature(const uint8_t* data, std::size_t size);

    // Parses the whole stream. False for data that is not a GIF, is cut short or holds a block the format
    // does not know; nothing of a failed parse is kept.
    bool Split(const uint8_t* data, std::size_t size);

    uint16_t ScreenWidth() const { return screenWidth_; }
    uint16_t ScreenHeight() const { return screenHeight_; }
    bool HasBackgroundColour() const { return hasBackground_; }
    // 0x00RRGGBB of the global colour table's background entry.
    uint32_t BackgroundRgb() const { return backgroundRgb_; }
    const std::vector<GifFrameData>& Frames() const { return frames_; }

private:
    void Clear();

    uint16_t screenWidth_ = 0;
    uint16_t screenHeight_ = 0;
    bool hasBackground_ = false;
    uint32_t backgroundRgb_ = 0;
    std::vector<GifFrameData> frames_;
};

// How long a frame stays on screen, in milliseconds. Delays of 4 hundredths or less (browsers treat them
// as "as fast as possible") and frames without any delay play at 100 ms, so an animation never freezes.
uint32_t GifFrameWaitMilliseconds(int32_t delay);
