#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/payload/ArchiveInStream.h"

// An archive held in memory (not copied: the bytes must outlive the stream). It moves like a file.
class MemoryArchiveInStream final : public IArchiveInStream {
public:
    MemoryArchiveInStream(const void* bytes, std::size_t size)
        : bytes_(static_cast<const unsigned char*>(bytes)), size_(size) {}

    bool Read(void* buffer, std::size_t* size) override;
    bool Seek(int64_t* position, Origin origin) override;

private:
    const unsigned char* bytes_;
    std::size_t size_;
    uint64_t position_ = 0;
};
