#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/payload/ArchiveInStream.h"

// A 7z archive opened for reading through the LZMA SDK's decoder. Extract() keeps the last solid block
// it decoded, so consecutive entries of one block are decoded once; only one block is held at a time.
// No Win32 types: the same code is fuzzed natively over archives in memory.
class SevenZipArchive {
public:
    // Result of Open when the file itself cannot be opened; other failures are the decoder's codes.
    static constexpr int kCannotOpenFile = 1;
    static constexpr int kOutOfMemory = 2;

    SevenZipArchive();
    ~SevenZipArchive();
    SevenZipArchive(const SevenZipArchive&) = delete;
    SevenZipArchive& operator=(const SevenZipArchive&) = delete;

#ifdef _WIN32
    // Opens the archive file. 0 on success.
    int Open(const wchar_t* path);
#endif
    // Opens the archive in `stream`, which this object keeps. 0 on success.
    int Open(std::unique_ptr<IArchiveInStream> stream);
    // Opens the archive in `stream`, which must outlive this object (or the next Open). 0 on success.
    int Open(IArchiveInStream& stream);

    uint32_t EntryCount() const;
    bool IsDirectory(uint32_t index) const;
    bool HasAttributes(uint32_t index) const;
    uint32_t Attributes(uint32_t index) const;

    // The entry's UTF-16 name with its terminator; the buffer grows to the longest name seen.
    // 0, or kOutOfMemory when the buffer cannot grow.
    int ReadName(uint32_t index, std::vector<char16_t>& buffer) const;

    // Decodes a file entry; `data` stays valid until the next Extract or the archive's end. 0 or the
    // decoder's code.
    int Extract(uint32_t index, const unsigned char** data, std::size_t* size);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
