#pragma once
// Where a 7z archive's bytes come from: a file on Windows, a memory buffer anywhere. No Win32 types, so
// that the decoder's use of it is also exercised natively.
#include <cstddef>
#include <cstdint>

class IArchiveInStream {
public:
    enum class Origin { Begin, Current, End };

    virtual ~IArchiveInStream() = default;
    // Reads up to `*size` bytes; `*size` becomes the count read (0 at the end). False on a read error.
    virtual bool Read(void* buffer, std::size_t* size) = 0;
    // Moves by `*position` from `origin`; `*position` becomes the new offset from the start. A position
    // past the end is allowed (reads there return nothing); one before the start is refused.
    virtual bool Seek(int64_t* position, Origin origin) = 0;
};
