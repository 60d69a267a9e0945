#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-1 of a byte stream fed in pieces; only used to name and record quarantined files.
class Sha1 {
public:
    Sha1();
    void Update(const void* data, std::size_t size);
    // Finishes the digest; the object must not be fed afterwards.
    std::string HexDigest();  // 40 upper-case hexadecimal digits

private:
    void Compress(const uint8_t* block);

    uint32_t state_[5];
    uint64_t totalBytes_ = 0;
    uint8_t block_[64];
    std::size_t blockUsed_ = 0;
};
