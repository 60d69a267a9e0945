#include "platform/payload/MemoryArchiveInStream.h"

#include <cstring>

bool MemoryArchiveInStream::Read(void* buffer, std::size_t* size) {
    std::size_t count = 0;
    if (position_ < size_) {
        const uint64_t left = size_ - position_;
        count = left < *size ? static_cast<std::size_t>(left) : *size;
        memcpy(buffer, bytes_ + position_, count);
        position_ += count;
    }
    *size = count;
    return true;
}

bool MemoryArchiveInStream::Seek(int64_t* position, Origin origin) {
    int64_t base = 0;
    if (origin == Origin::Current) base = static_cast<int64_t>(position_);
    if (origin == Origin::End) base = static_cast<int64_t>(size_);
    // A far jump must not wrap around to a small position.
    if ((*position > 0 && base > INT64_MAX - *position) || base + *position < 0) return false;
    position_ = static_cast<uint64_t>(base + *position);
    *position = base + *position;
    return true;
}
