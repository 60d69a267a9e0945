#include "platform/hash/FileDigest.h"

namespace {

// Picks the fastest SHA-1 block function for this processor once per process; until then the
// portable one is used, so a race here costs speed, never correctness.
void PrepareSha1Once() {
    static const bool prepared = (Sha1Prepare(), true);
    (void)prepared;
}

}  // namespace

FileDigest::FileDigest(bool wantMd5, bool wantSha1) : wantMd5_(wantMd5), wantSha1_(wantSha1) {
    if (wantMd5_) Md5_Init(&md5_);
    if (wantSha1_) {
        PrepareSha1Once();
        Sha1_Init(&sha1_);
    }
}

void FileDigest::Update(const void* data, std::size_t size) {
    const Byte* bytes = static_cast<const Byte*>(data);
    if (wantMd5_) Md5_Update(&md5_, bytes, size);
    if (wantSha1_) Sha1_Update(&sha1_, bytes, size);
}

void FileDigest::Finish(uint8_t* md5, uint8_t* sha1) {
    if (wantMd5_ && md5) Md5_Final(&md5_, md5);
    if (wantSha1_ && sha1) Sha1_Final(&sha1_, sha1);
}

std::string FileDigest::FinishSha1Hex() {
    uint8_t digest[kSha1Size] = {};
    Finish(nullptr, digest);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * kSha1Size);
    for (uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}
