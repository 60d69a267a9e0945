#include "platform/payload/SevenZipHeap.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

#include <new>

namespace {

void* RawAllocate(std::size_t size) {
#ifdef _WIN32
    return HeapAlloc(GetProcessHeap(), 0, size);
#else
    return malloc(size);
#endif
}

void RawFree(void* block) {
#ifdef _WIN32
    HeapFree(GetProcessHeap(), 0, block);
#else
    free(block);
#endif
}

}  // namespace

SevenZipHeap::SevenZipHeap() : hook_{{Allocate, Release}, this} {}

SevenZipHeap::~SevenZipHeap() {
    for (void* block : live_) RawFree(block);
}

void* SevenZipHeap::Allocate(ISzAllocPtr allocator, size_t size) {
    if (size == 0 || size > kMaxBlock) return nullptr;
    SevenZipHeap* self = reinterpret_cast<const Hook*>(allocator)->owner;
    void* block = RawAllocate(size);
    if (block == nullptr) return nullptr;
    try {
        self->live_.insert(block);
    } catch (const std::bad_alloc&) {
        RawFree(block);
        return nullptr;
    }
    return block;
}

void SevenZipHeap::Release(ISzAllocPtr allocator, void* block) {
    if (block == nullptr) return;
    SevenZipHeap* self = reinterpret_cast<const Hook*>(allocator)->owner;
    // A block this heap never handed out is left alone rather than freed twice.
    if (self->live_.erase(block) != 0) RawFree(block);
}
