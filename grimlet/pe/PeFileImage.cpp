#include "grimlet/pe/PeFileImage.h"

#include <algorithm>
#include <cstring>

#include "grimlet/pe/PeReadWindow.h"

namespace {

constexpr uint32_t kExportDirectorySize = 40;
constexpr uint32_t kMaxExportName = 256;
constexpr uint32_t kMaxForwarder = 256;
constexpr uint16_t kRelocationPadding = 0;   // IMAGE_REL_BASED_ABSOLUTE
constexpr uint16_t kRelocationHighLow = 3;   // IMAGE_REL_BASED_HIGHLOW
constexpr uint16_t kRelocationDir64 = 10;    // IMAGE_REL_BASED_DIR64

}  // namespace

bool PeFileImage::Parse(std::vector<uint8_t> bytes) {
    if (bytes.size() > kMaxFileSize) return false;
    bytes_ = std::move(bytes);
    PeMemorySource source(bytes_.data(), bytes_.size());
    PeReadWindow window(source);
    return PeHeaders::Parse(window, headers_);
}

bool PeFileImage::U16At(uint64_t offset, uint16_t& value) const {
    if (offset > bytes_.size() || bytes_.size() - offset < 2) return false;
    value = static_cast<uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
    return true;
}

bool PeFileImage::U32At(uint64_t offset, uint32_t& value) const {
    if (offset > bytes_.size() || bytes_.size() - offset < 4) return false;
    value = static_cast<uint32_t>(bytes_[offset]) | (static_cast<uint32_t>(bytes_[offset + 1]) << 8) |
            (static_cast<uint32_t>(bytes_[offset + 2]) << 16) | (static_cast<uint32_t>(bytes_[offset + 3]) << 24);
    return true;
}

bool PeFileImage::BytesAt(uint32_t rva, uint32_t count, uint8_t* out) const {
    // Byte by byte: a range may not run from one section's raw data into the next one's.
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset = 0;
        if (static_cast<uint64_t>(rva) + i > UINT32_MAX || !headers_.RvaToOffset(rva + i, offset) ||
            offset >= bytes_.size())
            return false;
        out[i] = bytes_[offset];
    }
    return true;
}

bool PeFileImage::StringAt(uint32_t rva, std::string& text, std::size_t limit) const {
    text.clear();
    uint32_t offset = 0;
    if (!headers_.RvaToOffset(rva, offset)) return false;
    for (uint64_t at = offset; at < bytes_.size() && text.size() < limit; ++at) {
        if (bytes_[at] == 0) return true;
        text.push_back(static_cast<char>(bytes_[at]));
    }
    return false;  // unterminated, or longer than any name this reader accepts
}

bool PeFileImage::ReadExportTable(ExportTable& table) const {
    const PeDataDirectory& directory = headers_.directories[0];
    if (directory.virtualAddress == 0 || directory.size < kExportDirectorySize) return false;
    uint32_t at = 0;
    if (!headers_.RvaToOffset(directory.virtualAddress, at)) return false;
    uint32_t functionsRva = 0, namesRva = 0, ordinalsRva = 0;
    if (!U32At(uint64_t{at} + 16, table.ordinalBase) || !U32At(uint64_t{at} + 20, table.functionCount) ||
        !U32At(uint64_t{at} + 24, table.nameCount) || !U32At(uint64_t{at} + 28, functionsRva) ||
        !U32At(uint64_t{at} + 32, namesRva) || !U32At(uint64_t{at} + 36, ordinalsRva))
        return false;
    // Counts beyond what the file could hold are lies; each table must lie whole in the file.
    auto fits = [this](uint32_t rva, uint32_t count, uint32_t width, uint32_t& offset) {
        if (count == 0) return true;
        if (!headers_.RvaToOffset(rva, offset)) return false;
        return static_cast<uint64_t>(count) * width <= bytes_.size() - std::min<uint64_t>(offset, bytes_.size());
    };
    if (!fits(functionsRva, table.functionCount, 4, table.functions) ||
        !fits(namesRva, table.nameCount, 4, table.names) || !fits(ordinalsRva, table.nameCount, 2, table.ordinals))
        return false;
    table.directoryRva = directory.virtualAddress;
    table.directorySize = directory.size;
    return true;
}

PeFileImage::Export PeFileImage::FunctionAt(const ExportTable& table, uint32_t index, uint32_t& rva,
                                            std::string& forwarder) const {
    if (index >= table.functionCount || !U32At(uint64_t{table.functions} + 4ull * index, rva) || rva == 0)
        return Export::Missing;
    // An address inside the export directory is the name of the function that really serves it.
    if (rva >= table.directoryRva && rva - table.directoryRva < table.directorySize) {
        if (!StringAt(rva, forwarder, kMaxForwarder) || forwarder.find('.') == std::string::npos)
            return Export::Missing;
        return Export::Forwarder;
    }
    return Export::Code;
}

PeFileImage::Export PeFileImage::FindExport(const std::string& name, uint32_t& rva, std::string& forwarder) const {
    ExportTable table;
    if (!ReadExportTable(table)) return Export::Missing;
    // Names are sorted for the loader's binary search, but a file need not keep that promise: a linear
    // walk finds what the loader would in a well-formed file and never loops on a malformed one.
    std::string candidate;
    for (uint32_t i = 0; i < table.nameCount; ++i) {
        uint32_t nameRva = 0;
        uint16_t index = 0;
        if (!U32At(uint64_t{table.names} + 4ull * i, nameRva) || !StringAt(nameRva, candidate, kMaxExportName) ||
            candidate != name)
            continue;
        if (!U16At(uint64_t{table.ordinals} + 2ull * i, index)) return Export::Missing;
        return FunctionAt(table, index, rva, forwarder);
    }
    return Export::Missing;
}

PeFileImage::Export PeFileImage::FindOrdinal(uint32_t ordinal, uint32_t& rva, std::string& forwarder) const {
    ExportTable table;
    if (!ReadExportTable(table) || ordinal < table.ordinalBase) return Export::Missing;
    return FunctionAt(table, ordinal - table.ordinalBase, rva, forwarder);
}

uint32_t PeFileImage::NextExportAfter(uint32_t rva) const {
    ExportTable table;
    if (!ReadExportTable(table)) return 0;
    uint32_t next = 0;
    for (uint32_t i = 0; i < table.functionCount; ++i) {
        uint32_t candidate = 0;
        if (!U32At(uint64_t{table.functions} + 4ull * i, candidate)) break;
        if (candidate > rva && (next == 0 || candidate < next)) next = candidate;
    }
    return next;
}

bool PeFileImage::FixupsIn(uint32_t rva, uint32_t count, std::vector<Fixup>& fixups) const {
    fixups.clear();
    const PeDataDirectory& directory = headers_.directories[kBaseRelocationDirectory];
    if (directory.virtualAddress == 0 || directory.size == 0) return true;  // nothing is ever patched
    uint32_t start = 0;
    if (!headers_.RvaToOffset(directory.virtualAddress, start)) return false;
    const uint64_t end = uint64_t{start} + directory.size;
    if (end > bytes_.size()) return false;
    const uint64_t last = uint64_t{rva} + count;
    for (uint64_t block = start; block + 8 <= end;) {
        uint32_t page = 0, size = 0;
        if (!U32At(block, page) || !U32At(block + 4, size) || size < 8 || block + size > end) return false;
        for (uint64_t entry = block + 8; entry + 2 <= block + size; entry += 2) {
            uint16_t value = 0;
            if (!U16At(entry, value)) return false;
            const uint16_t kind = static_cast<uint16_t>(value >> 12);
            const uint64_t at = uint64_t{page} + (value & 0x0FFF);
            const uint8_t width = kind == kRelocationDir64 ? 8 : 4;
            if (kind == kRelocationPadding || at + width <= rva || at >= last) continue;
            if (kind != kRelocationHighLow && kind != kRelocationDir64) return false;
            fixups.push_back({static_cast<uint32_t>(at), width});
        }
        block += size;
    }
    return true;
}
