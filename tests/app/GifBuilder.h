#pragma once
// Builds small GIF streams for the tests: a global colour table, any number of frames with or without a
// graphic control extension, real LZW data (so the system picture loader can decode them).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace gifbuilder {

struct FrameSpec {
    uint16_t left = 0;
    uint16_t top = 0;
    uint16_t width = 2;
    uint16_t height = 2;
    bool withControlExtension = true;
    uint16_t delay = 10;
    uint8_t disposal = 1;
    uint8_t colourIndex = 1;  // every pixel of the frame
};

inline std::vector<uint8_t> Lzw(const std::vector<uint8_t>& indices, int minCodeSize) {
    const int clear = 1 << minCodeSize;
    const int end = clear + 1;
    std::vector<uint8_t> out;
    uint32_t bitBuffer = 0;
    int bitCount = 0;
    auto emit = [&](int code, int size) {
        bitBuffer |= static_cast<uint32_t>(code) << bitCount;
        bitCount += size;
        while (bitCount >= 8) {
            out.push_back(static_cast<uint8_t>(bitBuffer & 0xFF));
            bitBuffer >>= 8;
            bitCount -= 8;
        }
    };
    std::map<std::string, int> table;
    int next = 0;
    int size = 0;
    auto reset = [&] {
        table.clear();
        for (int i = 0; i < clear; ++i) table[std::string(1, static_cast<char>(i))] = i;
        next = end + 1;
        size = minCodeSize + 1;
    };
    reset();
    emit(clear, size);
    std::string current;
    for (uint8_t index : indices) {
        std::string candidate = current + static_cast<char>(index);
        if (table.count(candidate)) {
            current = candidate;
            continue;
        }
        emit(table[current], size);
        if (next < 4096) {
            table[candidate] = next;
            if (next == (1 << size) && size < 12) ++size;
            ++next;
        } else {
            emit(clear, size);
            reset();
        }
        current = std::string(1, static_cast<char>(index));
    }
    if (!current.empty()) emit(table[current], size);
    emit(end, size);
    if (bitCount > 0) out.push_back(static_cast<uint8_t>(bitBuffer & 0xFF));
    return out;
}

inline void Put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// Palette of four colours: 0 white, 1 red, 2 green, 3 blue. `backgroundIndex` goes into the header.
inline std::vector<uint8_t> Build(uint16_t width, uint16_t height, const std::vector<FrameSpec>& frames,
                                  uint8_t backgroundIndex = 0, bool trailer = true) {
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(gif, width);
    Put16(gif, height);
    gif.push_back(0x80 | 0x10 | 1);  // global table of 4 entries
    gif.push_back(backgroundIndex);
    gif.push_back(0);
    const uint8_t palette[] = {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    gif.insert(gif.end(), palette, palette + sizeof(palette));
    for (const FrameSpec& frame : frames) {
        if (frame.withControlExtension) {
            gif.insert(gif.end(), {0x21, 0xF9, 0x04, static_cast<uint8_t>(frame.disposal << 2)});
            Put16(gif, frame.delay);
            gif.insert(gif.end(), {0x00, 0x00});
        }
        gif.push_back(0x2C);
        Put16(gif, frame.left);
        Put16(gif, frame.top);
        Put16(gif, frame.width);
        Put16(gif, frame.height);
        gif.push_back(0);
        gif.push_back(2);  // LZW minimum code size
        std::vector<uint8_t> data =
            Lzw(std::vector<uint8_t>(static_cast<size_t>(frame.width) * frame.height, frame.colourIndex), 2);
        for (size_t i = 0; i < data.size(); i += 255) {
            size_t chunk = data.size() - i < 255 ? data.size() - i : 255;
            gif.push_back(static_cast<uint8_t>(chunk));
            gif.insert(gif.end(), data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + chunk));
        }
        gif.push_back(0);
    }
    if (trailer) gif.push_back(0x3B);
    return gif;
}

}  // namespace gifbuilder
