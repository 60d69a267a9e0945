#pragma once
// The headers of a PE file, as far as the hook test needs them. No Win32 types.
#include <cstdint>
#include <vector>

#include "grimlet/pe/PeReadWindow.h"

struct PeDataDirectory {
    uint32_t virtualAddress = 0;
    uint32_t size = 0;
};

struct PeSection {
    char name[8] = {};
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
};

struct PeHeaders {
    static constexpr uint16_t kPe32Magic = 0x10B;
    static constexpr uint16_t kPe32PlusMagic = 0x20B;
    static constexpr uint32_t kDirectoryCount = 6;  // export, import, resource, exception, security, base relocation

    uint32_t ntHeadersOffset = 0;
    uint16_t machine = 0;
    uint16_t numberOfSections = 0;
    uint16_t sizeOfOptionalHeader = 0;
    uint16_t characteristics = 0;
    uint16_t optionalHeaderMagic = 0;  // kPe32Magic or kPe32PlusMagic
    uint32_t addressOfEntryPoint = 0;
    uint64_t imageBase = 0;
    PeDataDirectory directories[kDirectoryCount];  // those the optional header does not carry stay 0
    std::vector<PeSection> sections;

    // Reads the headers through `window`. False (and `headers` half-filled) on anything that is not a
    // PE32 or PE32+ image or that the file does not hold completely; never reads outside the source.
    static bool Parse(PeReadWindow& window, PeHeaders& headers);

    // The file offset of a relative virtual address. An address below both the first section's virtual
    // address and its raw-data offset lies in the headers and maps to itself; otherwise the first section
    // whose virtual range holds it must also hold it in its raw data.
    bool RvaToOffset(uint32_t rva, uint32_t& fileOffset) const;
};
