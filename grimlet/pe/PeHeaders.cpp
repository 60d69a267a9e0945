#include "grimlet/pe/PeHeaders.h"

#include <cstring>

namespace {

constexpr uint16_t kMzSignature = 0x5A4D;
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint32_t kNtHeadersOffsetField = 60;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;

// Offsets inside the optional header.
constexpr uint32_t kEntryPointField = 16;
constexpr uint32_t kImageBase32Field = 28;
constexpr uint32_t kImageBase64Field = 24;
constexpr uint32_t kDirectoryCount32Field = 92;
constexpr uint32_t kDirectoryCount64Field = 108;
constexpr uint32_t kDirectories32Field = 96;
constexpr uint32_t kDirectories64Field = 112;

}  // namespace

bool PeHeaders::Parse(PeReadWindow& window, PeHeaders& h) {
    h = PeHeaders{};
    uint16_t mz = 0;
    if (!window.ReadU16(0, mz) || mz != kMzSignature) return false;
    if (!window.ReadU32(kNtHeadersOffsetField, h.ntHeadersOffset)) return false;

    // 64-bit offsets: a lying NT-header offset near 4 GB must not wrap around to the file's start.
    const uint64_t nt = h.ntHeadersOffset;
    uint32_t signature = 0;
    if (!window.ReadU32(nt, signature) || signature != kPeSignature) return false;
    const uint64_t fileHeader = nt + 4;
    if (!window.ReadU16(fileHeader, h.machine) || !window.ReadU16(fileHeader + 2, h.numberOfSections) ||
        !window.ReadU16(fileHeader + 16, h.sizeOfOptionalHeader) ||
        !window.ReadU16(fileHeader + 18, h.characteristics)) {
        return false;
    }

    // The optional header must be a real one: a known magic and room for every fixed field up to the
    // directory count. Directories are read only as far as both the declared count and the declared
    // size carry them, so a size that lies low never lets a section header pass for a header field.
    const uint64_t optional = fileHeader + kFileHeaderSize;
    const uint32_t optionalSize = h.sizeOfOptionalHeader;
    auto covers = [optionalSize](uint32_t field, uint32_t width) { return field + width <= optionalSize; };
    if (!covers(0, 2) || !window.ReadU16(optional, h.optionalHeaderMagic)) return false;
    if (h.optionalHeaderMagic != kPe32Magic && h.optionalHeaderMagic != kPe32PlusMagic) return false;
    const bool plus = h.optionalHeaderMagic == kPe32PlusMagic;
    const uint32_t countField = plus ? kDirectoryCount64Field : kDirectoryCount32Field;
    const uint32_t directoriesField = plus ? kDirectories64Field : kDirectories32Field;
    if (!covers(countField, 4)) return false;
    if (!window.ReadU32(optional + kEntryPointField, h.addressOfEntryPoint)) return false;
    if (plus) {
        if (!window.ReadU64(optional + kImageBase64Field, h.imageBase)) return false;
    } else {
        uint32_t base = 0;
        if (!window.ReadU32(optional + kImageBase32Field, base)) return false;
        h.imageBase = base;
    }
    uint32_t declared = 0;
    if (!window.ReadU32(optional + countField, declared)) return false;
    for (uint32_t i = 0; i < kDirectoryCount && i < declared; ++i) {
        const uint32_t field = directoriesField + i * 8;
        if (!covers(field, 8)) break;
        if (!window.ReadU32(optional + field, h.directories[i].virtualAddress) ||
            !window.ReadU32(optional + field + 4, h.directories[i].size)) {
            return false;
        }
    }

    // Every section header must be in the file: a count that lies high fails at the first missing one.
    const uint64_t table = optional + optionalSize;
    h.sections.reserve(h.numberOfSections < 96 ? h.numberOfSections : 96);
    for (uint32_t i = 0; i < h.numberOfSections; ++i) {
        uint8_t raw[kSectionHeaderSize];
        if (!window.Read(table + static_cast<uint64_t>(i) * kSectionHeaderSize, raw, sizeof raw)) return false;
        auto u32 = [&raw](uint32_t at) {
            return static_cast<uint32_t>(raw[at]) | (static_cast<uint32_t>(raw[at + 1]) << 8) |
                   (static_cast<uint32_t>(raw[at + 2]) << 16) | (static_cast<uint32_t>(raw[at + 3]) << 24);
        };
        PeSection s;
        memcpy(s.name, raw, sizeof s.name);
        s.virtualSize = u32(8);
        s.virtualAddress = u32(12);
        s.sizeOfRawData = u32(16);
        s.pointerToRawData = u32(20);
        h.sections.push_back(s);
    }
    return true;
}

bool PeHeaders::RvaToOffset(uint32_t rva, uint32_t& fileOffset) const {
    if (sections.empty()) return false;
    const PeSection& first = sections.front();
    if (rva < first.virtualAddress && rva < first.pointerToRawData) {
        fileOffset = rva;
        return true;
    }
    for (const PeSection& s : sections) {
        // 64-bit sums: a section whose range would pass 4 GB must not wrap.
        if (rva < s.virtualAddress || static_cast<uint64_t>(rva) >= static_cast<uint64_t>(s.virtualAddress) + s.virtualSize) {
            continue;
        }
        const uint32_t delta = rva - s.virtualAddress;
        // Past the section's raw data there are no file bytes for the address (the loader zero-fills it).
        if (delta >= s.sizeOfRawData) return false;
        const uint64_t offset = static_cast<uint64_t>(s.pointerToRawData) + delta;
        if (offset > UINT32_MAX) return false;
        fileOffset = static_cast<uint32_t>(offset);
        return true;
    }
    return false;
}
