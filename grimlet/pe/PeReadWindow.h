#pragma once
// Buffered header reads for the PE-file reader. No Win32 types: the parser is also built natively.
#include <cstdint>

// Where the bytes come from: a file on Windows, a memory buffer when fuzzing.
class IPeByteSource {
public:
    // Reads up to `size` bytes at `offset` into `buffer`; `got` is how many arrived (fewer at the end).
    // False on a read error.
    virtual bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) = 0;

protected:
    ~IPeByteSource() = default;
};

// Bytes in memory that read as a file does: fewer at the end, none past it.
class PeMemorySource final : public IPeByteSource {
public:
    PeMemorySource(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}
    bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) override;

private:
    const uint8_t* data_;
    uint64_t size_;
};

// A 4096-byte window over a source. A request that lies wholly inside the window is served from it;
// anything else refills the window from the requested position.
class PeReadWindow {
public:
    static constexpr uint32_t kSize = 4096;

    explicit PeReadWindow(IPeByteSource& source) : source_(source) {}

    // Copies exactly `size` bytes at `offset` into `out`; false when they are not all there (or
    // `size` exceeds the window).
    bool Read(uint64_t offset, void* out, uint32_t size);

    bool ReadU16(uint64_t offset, uint16_t& value);
    bool ReadU32(uint64_t offset, uint32_t& value);
    bool ReadU64(uint64_t offset, uint64_t& value);

private:
    IPeByteSource& source_;
    uint8_t bytes_[kSize] = {};
    uint64_t start_ = 0;
    uint32_t valid_ = 0;  // bytes of the window that hold file data
};
