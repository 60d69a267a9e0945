#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "Md5.h"
#include "Sha1.h"

// SHA-1 and/or MD5 of one byte stream, fed block by block so that a file is read only once however
// many digests are wanted.
class FileDigest {
public:
    static constexpr std::size_t kSha1Size = 20;
    static constexpr std::size_t kMd5Size = 16;

    FileDigest(bool wantMd5, bool wantSha1);
    virtual ~FileDigest() = default;
    FileDigest(const FileDigest&) = delete;
    FileDigest& operator=(const FileDigest&) = delete;

    void Update(const void* data, std::size_t size);
    // Writes the requested digests; outputs of digests that were not requested may be null.
    void Finish(uint8_t* md5, uint8_t* sha1);
    // Finishes a SHA-1-only digest: 40 upper-case hexadecimal digits.
    std::string FinishSha1Hex();

private:
    bool wantMd5_;
    bool wantSha1_;
    CMd5 md5_;
    CSha1 sha1_;
};
