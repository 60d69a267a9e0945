#pragma once
#include <cstddef>
#include <cstdint>

// The payload archive's length and SHA-256, as the build wrote them into the program's image before
// it was signed (tools/pack_payload.py). Whatever lies at the program's path when it unpacks, only an
// archive with exactly these bytes is unpacked.
struct PayloadStamp {
    static constexpr std::size_t kDigestSize = 32;

    uint64_t size = 0;
    unsigned char sha256[kDigestSize] = {};

    // An image that was never packed carries a zero length: nothing matches it.
    bool IsSet() const { return size != 0; }
    bool operator==(const PayloadStamp& other) const;

    // The stamp of the running image.
    static PayloadStamp OfThisImage();
    // The stamp of bytes in memory.
    static PayloadStamp Of(const unsigned char* data, std::size_t size);
};

// SHA-256 of a stream fed piece by piece (the LZMA SDK's, present on every Windows version we run on).
class PayloadDigest {
public:
    PayloadDigest();
    ~PayloadDigest();
    PayloadDigest(const PayloadDigest&) = delete;
    PayloadDigest& operator=(const PayloadDigest&) = delete;

    void Update(const unsigned char* data, std::size_t size);
    // The stamp of everything fed so far.
    PayloadStamp Finish();

private:
    struct State;
    State* state_;
    uint64_t size_ = 0;
};
