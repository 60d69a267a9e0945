#include "grimlet/pe/PeReadWindow.h"

#include <cstring>

bool PeMemorySource::ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) {
    got = 0;
    if (offset >= size_) return true;
    got = static_cast<uint32_t>(size_ - offset < size ? size_ - offset : size);
    memcpy(buffer, data_ + offset, got);
    return true;
}

bool PeReadWindow::Read(uint64_t offset, void* out, uint32_t size) {
    if (size > kSize) return false;
    bool inside = offset >= start_ && offset - start_ <= valid_ && valid_ - (offset - start_) >= size;
    if (!inside) {
        uint32_t got = 0;
        valid_ = 0;
        start_ = offset;
        if (!source_.ReadAt(offset, bytes_, kSize, got)) return false;
        valid_ = got > kSize ? kSize : got;
        if (valid_ < size) return false;
    }
    memcpy(out, bytes_ + (offset - start_), size);
    return true;
}

// PE fields are little-endian; assemble them byte by byte so that the host's byte order never matters.
bool PeReadWindow::ReadU16(uint64_t offset, uint16_t& value) {
    uint8_t b[2];
    if (!Read(offset, b, sizeof b)) return false;
    value = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool PeReadWindow::ReadU32(uint64_t offset, uint32_t& value) {
    uint8_t b[4];
    if (!Read(offset, b, sizeof b)) return false;
    value = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
            (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

bool PeReadWindow::ReadU64(uint64_t offset, uint64_t& value) {
    uint32_t low = 0, high = 0;
    if (!ReadU32(offset, low) || !ReadU32(offset + 4, high)) return false;
    value = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}
