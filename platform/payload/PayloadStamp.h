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

// The digest of the program's own image that the build writes behind the payload stamp: the image as it
// lies in the file before the payload's marker, with the checksum, the certificate table's directory
// entry (what signing rewrites) and this digest's own field read as zeros. A copy of the program whose
// image gives this digest is the running image's, byte for byte.
struct ImageStamp {
    unsigned char sha256[PayloadStamp::kDigestSize] = {};

    bool operator==(const ImageStamp& other) const;

    // The running image's stamp, and where its field lies in the image's file. False when the image is
    // not laid out as a packed program is (no section holds the field).
    static bool OfThisImage(ImageStamp& stamp, std::size_t& fieldOffset);
    // The digest of `image` (the bytes before the marker) with its field at `fieldOffset`. False when
    // the bytes are no PE image or the field lies outside them.
    static bool Of(const unsigned char* image, std::size_t size, std::size_t fieldOffset, ImageStamp& stamp);
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
