#include "platform/payload/PayloadStamp.h"

#include <cstring>

#include "Sha256.h"

namespace {

constexpr std::size_t kTagSize = 16;

// The tag tools/pack_payload.py looks for (it must occur once in the image); the length (8 bytes,
// little-endian) and the digest behind it are written there. Read through a volatile pointer, so that
// the compiler never folds the zeros it was linked with into the code.
__attribute__((used)) const volatile unsigned char tidewash_payload_stamp[kTagSize + 8 + PayloadStamp::kDigestSize] = {
    'T', 'i', 'd', 'e', 'w', 'a', 's', 'h', 'P', 'a', 'y', 'l', 'o', 'a', 'd', '1'};

}  // namespace

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
