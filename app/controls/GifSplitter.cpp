#include "app/controls/GifSplitter.h"

#include <cstring>

namespace {

constexpr std::size_t kHeaderSize = 13;  // signature, version and logical screen descriptor
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kTrailer = 0x3B;
constexpr uint8_t kGraphicControlLabel = 0xF9;

uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void WriteLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>(value >> 8);
}

std::size_t ColourTableBytes(uint8_t packed) {
    if (!(packed & 0x80)) return 0;
    return 3u * (std::size_t(1) << ((packed & 0x07) + 1));
}

// Bounds-checked reading over the input; every step reports whether the bytes were there.
class Reader {
public:
    Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t Position() const { return pos_; }
    bool AtEnd() const { return pos_ >= size_; }
    bool Has(std::size_t count) const { return count <= size_ - pos_; }
    const uint8_t* Here() const { return data_ + pos_; }
    bool Skip(std::size_t count) {
        if (!Has(count)) return false;
        pos_ += count;
        return true;
    }
    bool Byte(uint8_t& value) {
        if (!Has(1)) return false;
        value = data_[pos_++];
        return true;
    }
    // A chain of data sub-blocks ending in an empty one.
    bool SkipSubBlocks() {
        for (;;) {
            uint8_t length;
            if (!Byte(length)) return false;
            if (length == 0) return true;
            if (!Skip(length)) return false;
        }
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

bool GifSplitter::HasSignature(const uint8_t* data, std::size_t size) {
    if (!data || size < 6) return false;
    return std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0;
}

void GifSplitter::Clear() {
    screenWidth_ = screenHeight_ = 0;
    hasBackground_ = false;
    backgroundRgb_ = 0;
    frames_.clear();
}

bool GifSplitter::Split(const uint8_t* data, std::size_t size) {
    Clear();
    if (!HasSignature(data, size) || size < kHeaderSize) return false;

    Reader in(data, size);
    in.Skip(6);
    screenWidth_ = ReadLe16(in.Here());
    screenHeight_ = ReadLe16(in.Here() + 2);
    const uint8_t screenPacked = in.Here()[4];
    const uint8_t backgroundIndex = in.Here()[5];
    in.Skip(7);
    const std::size_t globalTableBytes = ColourTableBytes(screenPacked);
    const uint8_t* globalTable = in.Here();
    if (!in.Skip(globalTableBytes)) return Clear(), false;
    if (globalTableBytes && std::size_t(backgroundIndex) * 3 + 3 <= globalTableBytes) {
        const uint8_t* rgb = globalTable + backgroundIndex * 3;
        backgroundRgb_ = (uint32_t(rgb[0]) << 16) | (uint32_t(rgb[1]) << 8) | rgb[2];
        hasBackground_ = true;
    }
    const std::size_t prefixBytes = kHeaderSize + globalTableBytes;

    std::vector<GifFrameData> frames;
    // The blocks that belong to the next image start after the previous image's data.
    std::size_t groupStart = in.Position();
    int32_t delay = -1;
    uint8_t disposal = 0;
    for (;;) {
        uint8_t introducer;
        if (!in.Byte(introducer)) {
            // A stream that simply stops after a complete image is accepted; one that stops inside a
            // block is not (the reads below fail instead).
            if (frames.empty()) return Clear(), false;
            break;
        }
        if (introducer == kTrailer) break;
        if (introducer == kExtensionIntroducer) {
            uint8_t label;
            if (!in.Byte(label)) return Clear(), false;
            if (label == kGraphicControlLabel && in.Has(5) && in.Here()[0] >= 4) {
                const uint8_t* block = in.Here() + 1;
                disposal = static_cast<uint8_t>((block[0] >> 2) & 0x07);
                delay = ReadLe16(block + 1);
            }
            if (!in.SkipSubBlocks()) return Clear(), false;
            continue;
        }
        if (introducer != kImageSeparator) return Clear(), false;

        if (!in.Has(9)) return Clear(), false;
        GifFrameData frame;
        const std::size_t descriptorAt = in.Position();
        frame.left = ReadLe16(in.Here());
        frame.top = ReadLe16(in.Here() + 2);
        frame.width = ReadLe16(in.Here() + 4);
        frame.height = ReadLe16(in.Here() + 6);
        const uint8_t imagePacked = in.Here()[8];
        in.Skip(9);
        if (!in.Skip(ColourTableBytes(imagePacked))) return Clear(), false;
        if (!in.Skip(1)) return Clear(), false;  // LZW minimum code size
        if (!in.SkipSubBlocks()) return Clear(), false;
        frame.delay = delay;
        frame.disposal = disposal;

        // Header and global colour table, this image's own blocks, trailer. The copy describes a screen of
        // the frame's size with the image at (0, 0): the loader then yields exactly the frame's pixels,
        // which are drawn at the frame's position.
        const std::size_t groupBytes = in.Position() - groupStart;
        frame.gif.reserve(prefixBytes + groupBytes + 1);
        frame.gif.assign(data, data + prefixBytes);
        frame.gif.insert(frame.gif.end(), data + groupStart, data + in.Position());
        frame.gif.push_back(kTrailer);
        WriteLe16(&frame.gif[6], frame.width);
        WriteLe16(&frame.gif[8], frame.height);
        uint8_t* descriptor = &frame.gif[prefixBytes + (descriptorAt - groupStart)];
        WriteLe16(descriptor, 0);
        WriteLe16(descriptor + 2, 0);
        frames.push_back(std::move(frame));

        groupStart = in.Position();
        delay = -1;
        disposal = 0;
    }
    if (frames.empty()) return Clear(), false;
    frames_ = std::move(frames);
    return true;
}

uint32_t GifFrameWaitMilliseconds(int32_t delay) {
    if (delay <= 4) return 100;
    return static_cast<uint32_t>(delay) * 10;
}
