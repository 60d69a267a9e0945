// The PE header parser over memory images: the parsed fields, address conversion, and files that
// are cut short or lie about their offsets and sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "grimlet/pe/PeHeaders.h"

namespace {

class MemorySource final : public IPeByteSource {
public:
    explicit MemorySource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) override {
        ++reads;
        got = 0;
        if (offset >= bytes_.size()) return true;
        got = static_cast<uint32_t>(std::min<uint64_t>(size, bytes_.size() - offset));
        memcpy(buffer, bytes_.data() + offset, got);
        return true;
    }
    int reads = 0;

private:
    const std::vector<uint8_t>& bytes_;
};

void Put16(std::vector<uint8_t>& b, std::size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
    Put16(b, at, static_cast<uint16_t>(v));
    Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}
void Put64(std::vector<uint8_t>& b, std::size_t at, uint64_t v) {
    Put32(b, at, static_cast<uint32_t>(v));
    Put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

struct Image {
    std::vector<uint8_t> bytes;
    std::size_t nt, optional, table;
};

// A small image: headers, .text at RVA 0x1000 (file 0x400, 0x200 bytes), .data at RVA 0x2000
// (virtual 0x1000 bytes, file 0x600, 0x200 bytes).
Image MakeImage(bool plus = false, uint32_t ntOffset = 0x80) {
    Image img;
    std::vector<uint8_t>& b = img.bytes;
    b.assign(0x800, 0);
    Put16(b, 0, 0x5A4D);
    Put32(b, 60, ntOffset);
    img.nt = ntOffset;
    Put32(b, img.nt, 0x00004550);
    Put16(b, img.nt + 4, plus ? 0x8664 : 0x14C);
    Put16(b, img.nt + 6, 2);
    const uint16_t optionalSize = plus ? 240 : 224;
    Put16(b, img.nt + 20, optionalSize);
    Put16(b, img.nt + 22, 0x2102);
    img.optional = img.nt + 24;
    Put16(b, img.optional, plus ? 0x20B : 0x10B);
    Put32(b, img.optional + 16, 0x1010);
    if (plus) {
        Put64(b, img.optional + 24, 0x180000000ull);
        Put32(b, img.optional + 108, 16);
        Put32(b, img.optional + 112, 0x2100);
        Put32(b, img.optional + 116, 0x40);
        Put32(b, img.optional + 120, 0x2200);
    } else {
        Put32(b, img.optional + 28, 0x10000000);
        Put32(b, img.optional + 92, 16);
        Put32(b, img.optional + 96, 0x2100);
        Put32(b, img.optional + 100, 0x40);
        Put32(b, img.optional + 104, 0x2200);
    }
    img.table = img.optional + optionalSize;
    const char* names[] = {".text", ".data"};
    const uint32_t va[] = {0x1000, 0x2000}, vs[] = {0x200, 0x1000}, raw[] = {0x200, 0x200}, ptr[] = {0x400, 0x600};
    for (int i = 0; i < 2; ++i) {
        std::size_t s = img.table + i * 40;
        if (b.size() < s + 40) b.resize(s + 40);
        memcpy(&b[s], names[i], strlen(names[i]));
        Put32(b, s + 8, vs[i]);
        Put32(b, s + 12, va[i]);
        Put32(b, s + 16, raw[i]);
        Put32(b, s + 20, ptr[i]);
    }
    return img;
}

bool Parse(const std::vector<uint8_t>& bytes, PeHeaders& headers) {
    MemorySource source(bytes);
    PeReadWindow window(source);
    return PeHeaders::Parse(window, headers);
}

TEST(PeHeaders, ReadsTheFieldsOfA32BitImage) {
    Image img = MakeImage();
    PeHeaders h;
    ASSERT_TRUE(Parse(img.bytes, h));
    EXPECT_EQ(h.ntHeadersOffset, 0x80u);
    EXPECT_EQ(h.machine, 0x14C);
    EXPECT_EQ(h.numberOfSections, 2);
    EXPECT_EQ(h.sizeOfOptionalHeader, 224);
    EXPECT_EQ(h.characteristics, 0x2102);
    EXPECT_EQ(h.optionalHeaderMagic, PeHeaders::kPe32Magic);
    EXPECT_EQ(h.addressOfEntryPoint, 0x1010u);
    EXPECT_EQ(h.imageBase, 0x10000000u);
    EXPECT_EQ(h.directories[0].virtualAddress, 0x2100u);
    EXPECT_EQ(h.directories[0].size, 0x40u);
    EXPECT_EQ(h.directories[1].virtualAddress, 0x2200u);
    ASSERT_EQ(h.sections.size(), 2u);
    EXPECT_STREQ(std::string(h.sections[0].name, 8).c_str(), ".text");
    EXPECT_EQ(h.sections[1].virtualAddress, 0x2000u);
    EXPECT_EQ(h.sections[1].pointerToRawData, 0x600u);
}

TEST(PeHeaders, ReadsTheFieldsOfA64BitImage) {
    Image img = MakeImage(true);
    PeHeaders h;
    ASSERT_TRUE(Parse(img.bytes, h));
    EXPECT_EQ(h.optionalHeaderMagic, PeHeaders::kPe32PlusMagic);
    EXPECT_EQ(h.imageBase, 0x180000000ull);
    EXPECT_EQ(h.directories[0].virtualAddress, 0x2100u);
    EXPECT_EQ(h.sections.size(), 2u);
}

TEST(PeHeaders, ConvertsAddressesThroughTheSectionTable) {
    Image img = MakeImage();
    PeHeaders h;
    ASSERT_TRUE(Parse(img.bytes, h));
    uint32_t offset = 0;
    ASSERT_TRUE(h.RvaToOffset(0x10, offset));  // inside the headers
    EXPECT_EQ(offset, 0x10u);
    ASSERT_TRUE(h.RvaToOffset(0x1010, offset));
    EXPECT_EQ(offset, 0x410u);
    ASSERT_TRUE(h.RvaToOffset(0x2000, offset));
    EXPECT_EQ(offset, 0x600u);
    ASSERT_TRUE(h.RvaToOffset(0x21FF, offset));
    EXPECT_EQ(offset, 0x7FFu);
    EXPECT_FALSE(h.RvaToOffset(0x2200, offset));  // zero-filled tail of .data: no file bytes
    EXPECT_FALSE(h.RvaToOffset(0x1200, offset));  // between the sections
    EXPECT_FALSE(h.RvaToOffset(0x3000, offset));  // past the image
    EXPECT_FALSE(h.RvaToOffset(0xFFFFFFFF, offset));
    EXPECT_FALSE(PeHeaders{}.RvaToOffset(0x10, offset));
}

TEST(PeHeaders, SectionRangesNearFourGigabytesDoNotWrap) {
    Image img = MakeImage();
    Put32(img.bytes, img.table + 40 + 12, 0xFFFFF000);  // .data at the top of the address space
    Put32(img.bytes, img.table + 40 + 8, 0x2000);       // whose end would wrap past 4 GB
    Put32(img.bytes, img.table + 40 + 20, 0xFFFFFF00);  // and whose file data would too
    PeHeaders h;
    ASSERT_TRUE(Parse(img.bytes, h));
    uint32_t offset = 0;
    ASSERT_TRUE(h.RvaToOffset(0xFFFFF010, offset));   // the range is not cut short by a wrapped end
    EXPECT_EQ(offset, 0xFFFFFF10u);
    EXPECT_FALSE(h.RvaToOffset(0xFFFFF100, offset));  // the file offset would pass 4 GB
}

TEST(PeHeaders, EveryTruncationFailsCleanly) {
    Image img = MakeImage();
    const std::size_t headersEnd = img.table + 2 * 40;
    for (std::size_t length = 0; length < headersEnd; ++length) {
        std::vector<uint8_t> cut(img.bytes.begin(), img.bytes.begin() + length);
        PeHeaders h;
        EXPECT_FALSE(Parse(cut, h)) << "length " << length;
    }
    std::vector<uint8_t> exact(img.bytes.begin(), img.bytes.begin() + headersEnd);
    PeHeaders h;
    EXPECT_TRUE(Parse(exact, h));
}

TEST(PeHeaders, LyingOffsetsAndCountsFailCleanly) {
    struct Case {
        const char* what;
        void (*spoil)(Image&);
    } cases[] = {
        {"no MZ", [](Image& i) { Put16(i.bytes, 0, 0x4D5A); }},
        {"NT headers past the end", [](Image& i) { Put32(i.bytes, 60, 0x10000); }},
        {"NT headers near 4 GB", [](Image& i) { Put32(i.bytes, 60, 0xFFFFFFFC); }},
        {"NT headers straddle the end", [](Image& i) { Put32(i.bytes, 60, static_cast<uint32_t>(i.bytes.size() - 2)); }},
        {"no PE signature", [](Image& i) { Put32(i.bytes, i.nt, 0x00014550); }},
        {"section count too high", [](Image& i) { Put16(i.bytes, i.nt + 6, 0xFFFF); }},
        {"optional header too large", [](Image& i) { Put16(i.bytes, i.nt + 20, 0xFFFF); }},
        {"optional header too small", [](Image& i) { Put16(i.bytes, i.nt + 20, 0); }},
        {"optional header cut before its fields", [](Image& i) { Put16(i.bytes, i.nt + 20, 64); }},
        {"unknown optional header", [](Image& i) { Put16(i.bytes, i.optional, 0x107); }},
    };
    for (const Case& c : cases) {
        Image img = MakeImage();
        c.spoil(img);
        PeHeaders h;
        EXPECT_FALSE(Parse(img.bytes, h)) << c.what;
    }
}

TEST(PeHeaders, ADirectoryCountOrSizeThatLiesLowLeavesDirectoriesEmpty) {
    Image img = MakeImage();
    Put32(img.bytes, img.optional + 92, 1);  // only the export directory declared
    PeHeaders h;
    ASSERT_TRUE(Parse(img.bytes, h));
    EXPECT_EQ(h.directories[0].virtualAddress, 0x2100u);
    EXPECT_EQ(h.directories[1].virtualAddress, 0u);

    img = MakeImage();
    Put16(img.bytes, img.nt + 20, 104);  // room for the export directory only
    // The section table moves up with the declared size, over what were directory bytes; those are
    // read as sections, never as directories.
    ASSERT_TRUE(Parse(img.bytes, h));
    EXPECT_EQ(h.directories[0].virtualAddress, 0x2100u);
    EXPECT_EQ(h.directories[1].virtualAddress, 0u);
}

TEST(PeHeaders, HeaderReadsAreServedFromTheWindow) {
    Image img = MakeImage();
    MemorySource source(img.bytes);
    PeReadWindow window(source);
    PeHeaders h;
    ASSERT_TRUE(PeHeaders::Parse(window, h));
    EXPECT_EQ(source.reads, 1);  // every header of a small image lies in the first 4096 bytes

    Image far = MakeImage(false, 5000);  // NT headers beyond the first window
    MemorySource farSource(far.bytes);
    PeReadWindow farWindow(farSource);
    ASSERT_TRUE(PeHeaders::Parse(farWindow, h));
    EXPECT_EQ(farSource.reads, 2);
}

TEST(PeReadWindow, RefillsFromTheRequestedPositionAndRefusesWhatIsMissing) {
    std::vector<uint8_t> bytes(10000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    MemorySource source(bytes);
    PeReadWindow window(source);
    uint8_t out[16];
    ASSERT_TRUE(window.Read(4090, out, 16));  // straddles the first window: read from 4090 on
    EXPECT_EQ(out[0], bytes[4090]);
    EXPECT_EQ(source.reads, 1);
    ASSERT_TRUE(window.Read(4090 + 4096 - 16, out, 16));  // the last bytes of that window
    EXPECT_EQ(source.reads, 1);
    EXPECT_FALSE(window.Read(9995, out, 16));  // only 5 bytes left in the source
    EXPECT_FALSE(window.Read(20000, out, 1));
    std::vector<uint8_t> big(PeReadWindow::kSize + 1);
    EXPECT_FALSE(window.Read(0, big.data(), static_cast<uint32_t>(big.size())));
    uint32_t v = 0;
    ASSERT_TRUE(window.ReadU32(0, v));
    EXPECT_EQ(v, bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24));
}

}  // namespace
