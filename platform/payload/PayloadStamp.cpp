#include "platform/payload/PayloadStamp.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Sha256.h"

namespace {

constexpr std::size_t kTagSize = 16;

// The tag tools/pack_payload.py looks for (it must occur once in the image); the length (8 bytes,
// little-endian), the payload's digest and the image's digest (ImageStamp) are written there. Read through a volatile pointer, so that
// the compiler never folds the zeros it was linked with into the code.
__attribute__((used)) const volatile unsigned char tidewash_payload_stamp[kTagSize + 8 + 2 * PayloadStamp::kDigestSize] = {
    'T', 'i', 'd', 'e', 'w', 'a', 's', 'h', 'P', 'a', 'y', 'l', 'o', 'a', 'd', '1'};

constexpr std::size_t kImageDigestAt = kTagSize + 8 + PayloadStamp::kDigestSize;

// The two header fields that signing rewrites, as offsets into `image`; false when the bytes are no PE
// image or its headers are cut short.
bool SignatureFields(const unsigned char* image, std::size_t size, std::size_t& checksum, std::size_t& security) {
    if (size < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
    uint32_t nt = 0;
    std::memcpy(&nt, image + 0x3C, sizeof nt);
    const std::size_t optional = std::size_t{nt} + 24;
    if (nt > size || optional + 2 > size || std::memcmp(image + nt, "PE\0\0", 4) != 0) return false;
    const bool pe32plus = image[optional] == 0x0B && image[optional + 1] == 0x02;
    checksum = optional + 64;
    security = optional + (pe32plus ? 112 : 96) + 4 * 8;
    return security + 8 <= size;
}

}  // namespace

bool ImageStamp::operator==(const ImageStamp& other) const {
    return std::memcmp(sha256, other.sha256, sizeof sha256) == 0;
}

bool ImageStamp::OfThisImage(ImageStamp& stamp, std::size_t& fieldOffset) {
    const volatile unsigned char* field = tidewash_payload_stamp + kImageDigestAt;
    for (std::size_t i = 0; i < sizeof stamp.sha256; ++i) stamp.sha256[i] = field[i];
    // Where the field lies in the file: its place in the running image, through the section that holds it.
    const BYTE* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const std::uintptr_t rva = reinterpret_cast<std::uintptr_t>(field) - reinterpret_cast<std::uintptr_t>(base);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const std::uintptr_t start = section->VirtualAddress;
        if (rva >= start && rva + sizeof stamp.sha256 <= start + section->SizeOfRawData) {
            fieldOffset = section->PointerToRawData + (rva - start);
            return true;
        }
    }
    return false;
}

bool ImageStamp::Of(const unsigned char* image, std::size_t size, std::size_t fieldOffset, ImageStamp& stamp) {
    std::size_t checksum = 0, security = 0;
    if (!SignatureFields(image, size, checksum, security) || fieldOffset > size ||
        size - fieldOffset < sizeof stamp.sha256)
        return false;
    // Hashed piece by piece between the fields, which count as zeros.
    struct Hole {
        std::size_t at, size;
    };
    std::vector<Hole> holes = {{checksum, 4}, {security, 8}, {fieldOffset, sizeof stamp.sha256}};
    std::sort(holes.begin(), holes.end(), [](const Hole& a, const Hole& b) { return a.at < b.at; });
    static const unsigned char zeros[PayloadStamp::kDigestSize] = {};
    CSha256 sha;
    Sha256_Init(&sha);
    std::size_t at = 0;
    for (const Hole& hole : holes) {
        if (hole.at < at) return false;  // overlapping fields: not an image the build stamped
        Sha256_Update(&sha, image + at, hole.at - at);
        Sha256_Update(&sha, zeros, hole.size);
        at = hole.at + hole.size;
    }
    Sha256_Update(&sha, image + at, size - at);
    Sha256_Final(&sha, stamp.sha256);
    return true;
}

bool PayloadStamp::operator==(const PayloadStamp& other) const {
    return size == other.size && std::memcmp(sha256, other.sha256, kDigestSize) == 0;
}

PayloadStamp PayloadStamp::OfThisImage() {
    PayloadStamp stamp;
    const volatile unsigned char* field = tidewash_payload_stamp + kTagSize;
    for (int i = 7; i >= 0; --i) stamp.size = (stamp.size << 8) | field[i];
    for (std::size_t i = 0; i < kDigestSize; ++i) stamp.sha256[i] = field[8 + i];
    return stamp;
}

PayloadStamp PayloadStamp::Of(const unsigned char* data, std::size_t size) {
    PayloadDigest digest;
    digest.Update(data, size);
    return digest.Finish();
}

struct PayloadDigest::State {
    CSha256 sha;
};

PayloadDigest::PayloadDigest() : state_(new State) { Sha256_Init(&state_->sha); }

PayloadDigest::~PayloadDigest() { delete state_; }

void PayloadDigest::Update(const unsigned char* data, std::size_t size) {
    Sha256_Update(&state_->sha, data, size);
    size_ += size;
}

PayloadStamp PayloadDigest::Finish() {
    PayloadStamp stamp;
    stamp.size = size_;
    Sha256_Final(&state_->sha, stamp.sha256);
    return stamp;
}
