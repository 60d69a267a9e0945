#pragma once
// A whole module file held in memory, read as the loader would lay it out: its exports, the bytes at a
// relative address and the base relocations that patch them. The hook test reads entry points from the
// system folder's copy of a module through it, never from anything the inspected process names. No
// Win32 types: the parser is also built natively for fuzzing.
#include <cstdint>
#include <string>
#include <vector>

#include "grimlet/pe/PeHeaders.h"

class PeFileImage {
public:
    static constexpr uint32_t kMaxFileSize = 64u << 20;  // far beyond any system module
    static constexpr uint32_t kBaseRelocationDirectory = 5;

    // False when `bytes` are not a PE image whose headers the file holds completely.
    bool Parse(std::vector<uint8_t> bytes);
    const PeHeaders& Headers() const { return headers_; }
    bool Is64Bit() const { return headers_.optionalHeaderMagic == PeHeaders::kPe32PlusMagic; }

    enum class Export {
        Missing,    // no export of that name
        Code,       // `rva` is the function's address
        Forwarder,  // `forwarder` names "MODULE.Entry" or "MODULE.#ordinal" in another module
    };
    Export FindExport(const std::string& name, uint32_t& rva, std::string& forwarder) const;
    // The same for an export named by its ordinal.
    Export FindOrdinal(uint32_t ordinal, uint32_t& rva, std::string& forwarder) const;
    // The lowest exported function address above `rva` (0 when there is none): where the code of the
    // function at `rva` ends at the latest.
    uint32_t NextExportAfter(uint32_t rva) const;

    // Copies `count` bytes that the file holds for the image range at `rva`; false when any of them lies
    // outside one section's raw data (or the headers).
    bool BytesAt(uint32_t rva, uint32_t count, uint8_t* out) const;

    struct Fixup {
        uint32_t rva;   // where the patched value starts
        uint8_t width;  // 4 (HIGHLOW) or 8 (DIR64)
    };
    // The base relocations whose value overlaps [rva, rva + count). False when the relocation table
    // cannot be read, or holds a kind other than those two (and padding) in that range.
    bool FixupsIn(uint32_t rva, uint32_t count, std::vector<Fixup>& fixups) const;

private:
    struct ExportTable {
        uint32_t directoryRva = 0, directorySize = 0;
        uint32_t ordinalBase = 0, functionCount = 0, nameCount = 0;
        uint32_t functions = 0, names = 0, ordinals = 0;  // file offsets
    };
    bool ReadExportTable(ExportTable& table) const;
    Export FunctionAt(const ExportTable& table, uint32_t index, uint32_t& rva, std::string& forwarder) const;
    bool U16At(uint64_t offset, uint16_t& value) const;
    bool U32At(uint64_t offset, uint32_t& value) const;
    bool StringAt(uint32_t rva, std::string& text, std::size_t limit) const;

    std::vector<uint8_t> bytes_;
    PeHeaders headers_;
};
