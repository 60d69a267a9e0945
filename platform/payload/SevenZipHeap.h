#pragma once
#include <cstddef>
#include <set>

#include "7zTypes.h"

// The 7z decoder's allocator for one archive: blocks come from the process heap (the C heap where there
// is no Windows) and are remembered, so that everything is released with the archive even where the
// decoder forgets a block (LZMA SDK 26.01 drops its first name table when a header repeats the names).
class SevenZipHeap {
public:
    // No single block may exceed this. A hostile archive declares any size it likes; our payload's
    // largest block is a few MiB, and a 32-bit process could not hold much more anyway.
    static constexpr std::size_t kMaxBlock = 256u << 20;

    SevenZipHeap();
    ~SevenZipHeap();  // frees the blocks still outstanding
    SevenZipHeap(const SevenZipHeap&) = delete;
    SevenZipHeap& operator=(const SevenZipHeap&) = delete;

    ISzAllocPtr Allocator() const { return &hook_.vt; }
    std::size_t Outstanding() const { return live_.size(); }

private:
    // `vt` first: the decoder hands back a pointer to it.
    struct Hook {
        ISzAlloc vt;
        SevenZipHeap* owner;
    };
    static void* Allocate(ISzAllocPtr allocator, size_t size);
    static void Release(ISzAllocPtr allocator, void* block);

    Hook hook_;
    std::set<void*> live_;
};
