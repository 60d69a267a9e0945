// The PE reader behind CPEFile: header parse through the 4096-byte read window, the section table,
// relative-address to file-offset conversion and the 5-byte reads the hook test makes; the whole-file
// reader the hook test resolves entries with (exports by name and ordinal, forwarders, base
// relocations); and the jump decoder over the bytes at each export. The input is the module file itself.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "grimlet/hooks/HookJump.h"
#include "grimlet/pe/PeFileImage.h"
#include "grimlet/pe/PeHeaders.h"
#include "grimlet/pe/PeReadWindow.h"

namespace {

uint32_t U32At(const uint8_t* data, size_t size, uint64_t offset) {
    if (offset + 4 > size) return 0;
    return static_cast<uint32_t>(data[offset]) | (static_cast<uint32_t>(data[offset + 1]) << 8) |
           (static_cast<uint32_t>(data[offset + 2]) << 16) | (static_cast<uint32_t>(data[offset + 3]) << 24);
}

// A window read must hand out exactly the file's bytes, and fail exactly when they are not all there.
void CheckWindowRead(PeReadWindow& window, const uint8_t* data, size_t size, uint64_t offset, uint32_t count) {
    uint8_t out[PeReadWindow::kSize];
    const bool ok = window.Read(offset, out, count);
    const bool present = count <= PeReadWindow::kSize && offset <= size && size - offset >= count;
    if (ok != present) abort();
    if (ok && memcmp(out, data + offset, count) != 0) abort();
}

// What the hook test does with an entry's address: convert it and read the 5 bytes the file holds there.
void ReadFiveBytesAt(const PeHeaders& headers, PeReadWindow& window, const uint8_t* data, size_t size, uint32_t rva) {
    uint32_t offset = 0;
    if (!headers.RvaToOffset(rva, offset)) return;
    // The offset must come from the headers' identity range or from one section's raw data.
    bool explained = offset == rva;
    for (const PeSection& s : headers.sections) {
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.sizeOfRawData &&
            static_cast<uint64_t>(s.pointerToRawData) + (rva - s.virtualAddress) == offset) {
            explained = true;
        }
    }
    if (!explained) abort();
    CheckWindowRead(window, data, size, offset, 5);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PeMemorySource source(data, size);
    PeReadWindow window(source);
    PeHeaders headers;
    if (!PeHeaders::Parse(window, headers)) return 0;
    if (headers.sections.size() != headers.numberOfSections) abort();

    std::vector<uint32_t> addresses = {headers.addressOfEntryPoint, 0, 1, 0xFFFFFFFFu};
    for (const PeDataDirectory& d : headers.directories) {
        addresses.push_back(d.virtualAddress);
        addresses.push_back(d.virtualAddress + d.size);
    }
    // The first sections' edges (a table of thousands would make every input quadratic).
    for (std::size_t i = 0; i < headers.sections.size() && i < 16; ++i) {
        const PeSection& s = headers.sections[i];
        addresses.push_back(s.virtualAddress);
        addresses.push_back(s.virtualAddress - 1);
        addresses.push_back(s.virtualAddress + s.virtualSize - 1);
        addresses.push_back(s.virtualAddress + s.sizeOfRawData);
    }
    for (uint32_t rva : addresses) ReadFiveBytesAt(headers, window, data, size, rva);

    // The exported functions, as the hook test meets them: their addresses come from the file too.
    uint32_t directory = 0;
    if (headers.directories[0].virtualAddress != 0 && headers.RvaToOffset(headers.directories[0].virtualAddress, directory)) {
        const uint32_t count = std::min<uint32_t>(U32At(data, size, uint64_t{directory} + 20), 64);
        uint32_t functions = 0;
        if (headers.RvaToOffset(U32At(data, size, uint64_t{directory} + 28), functions)) {
            for (uint32_t i = 0; i < count; ++i) {
                ReadFiveBytesAt(headers, window, data, size, U32At(data, size, uint64_t{functions} + 4u * i));
            }
        }
    }

    // The whole-file reader: whatever it resolves lies where the file says, and every byte it hands out
    // is the file's.
    PeFileImage image;
    if (image.Parse(std::vector<uint8_t>(data, data + size))) {
        const char* const names[] = {"DnsQuery_A", "sendto", "NetpwPathCanonicalize", "ZwQueryInformationProcess", ""};
        for (const char* name : names) {
            uint32_t rva = 0;
            std::string forwarder;
            const PeFileImage::Export found = image.FindExport(name, rva, forwarder);
            if (found == PeFileImage::Export::Forwarder && forwarder.find('.') == std::string::npos) abort();
            if (found != PeFileImage::Export::Code) continue;
            uint8_t bytes[16];
            for (uint32_t count : {1u, 5u, 16u}) {
                if (!image.BytesAt(rva, count, bytes)) continue;
                uint32_t offset = 0;
                if (!headers.RvaToOffset(rva, offset) || offset >= size || bytes[0] != data[offset]) abort();
            }
            if (image.BytesAt(rva, 16, bytes))
                for (bool is64 : {false, true}) {
                    const HookJump jump = HookJump::Decode(bytes, sizeof bytes, 0x10000000u + rva, is64);
                    if (jump.kind != HookJump::Kind::None && (jump.length < 2 || jump.length > 16)) abort();
                }
            image.NextExportAfter(rva);
            std::vector<PeFileImage::Fixup> fixups;
            if (image.FixupsIn(rva, 16, fixups))
                for (const PeFileImage::Fixup& fixup : fixups)
                    if ((fixup.width != 4 && fixup.width != 8) || uint64_t{fixup.rva} + fixup.width <= rva ||
                        fixup.rva >= uint64_t{rva} + 16)
                        abort();
        }
        for (uint32_t ordinal : {0u, 1u, 2u, 0xFFFFFFFFu}) {
            uint32_t rva = 0;
            std::string forwarder;
            image.FindOrdinal(ordinal, rva, forwarder);
        }
    }

    // Reads of every size around the window's edges.
    CheckWindowRead(window, data, size, size > 3 ? size - 3 : 0, 5);
    CheckWindowRead(window, data, size, 4095, 2);
    CheckWindowRead(window, data, size, 0, PeReadWindow::kSize);
    CheckWindowRead(window, data, size, 1, PeReadWindow::kSize);
    CheckWindowRead(window, data, size, UINT64_MAX - 2, 4);
    return 0;
}
