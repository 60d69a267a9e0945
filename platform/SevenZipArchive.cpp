#include "platform/SevenZipArchive.h"

#include <windows.h>

#include <new>

#include "7z.h"
#include "7zCrc.h"
#include "platform/ScopedHandle.h"

namespace {

constexpr std::size_t kLookAheadSize = 1 << 14;

// The decoder's allocations come from the process heap.
void* HeapAllocate(ISzAllocPtr, size_t size) { return size == 0 ? nullptr : HeapAlloc(GetProcessHeap(), 0, size); }
void HeapRelease(ISzAllocPtr, void* address) {
    if (address != nullptr) HeapFree(GetProcessHeap(), 0, address);
}
const ISzAlloc kHeapAllocator = {HeapAllocate, HeapRelease};

// The decoder's view of the archive file. `vt` comes first: the decoder hands back a pointer to it.
struct FileInStream {
    ISeekInStream vt;
    HANDLE file;
};

SRes ReadArchive(ISeekInStreamPtr stream, void* buffer, size_t* size) {
    const FileInStream* self = reinterpret_cast<const FileInStream*>(stream);
    const DWORD wanted = *size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(*size);
    DWORD got = 0;
    const BOOL ok = ReadFile(self->file, buffer, wanted, &got, nullptr);
    *size = got;
    return ok ? SZ_OK : SZ_ERROR_READ;
}

SRes SeekArchive(ISeekInStreamPtr stream, Int64* position, ESzSeek origin) {
    const FileInStream* self = reinterpret_cast<const FileInStream*>(stream);
    DWORD method = FILE_BEGIN;
    if (origin == SZ_SEEK_CUR) method = FILE_CURRENT;
    if (origin == SZ_SEEK_END) method = FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = *position;
    LARGE_INTEGER result;
    if (!SetFilePointerEx(self->file, distance, &result, method)) return SZ_ERROR_READ;
    *position = result.QuadPart;
    return SZ_OK;
}

}  // namespace

struct SevenZipArchive::Impl {
    ScopedHandle file;
    FileInStream stream = {};
    CLookToRead2 look = {};
    Byte* lookBuffer = nullptr;
    CSzArEx db;
    bool dbInitialized = false;
    // The solid-block cache of SzArEx_Extract.
    UInt32 blockIndex = 0xFFFFFFFF;
    Byte* outBuffer = nullptr;
    size_t outBufferSize = 0;

    ~Impl() {
        ISzAlloc_Free(&kHeapAllocator, outBuffer);
        if (dbInitialized) SzArEx_Free(&db, &kHeapAllocator);
        ISzAlloc_Free(&kHeapAllocator, lookBuffer);
    }
};

SevenZipArchive::SevenZipArchive() : impl_(new Impl) {}

SevenZipArchive::~SevenZipArchive() = default;

int SevenZipArchive::Open(const wchar_t* path) {
    if (path == nullptr) return kCannotOpenFile;
    impl_.reset(new Impl);
    Impl& a = *impl_;
    a.file.Reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
    if (!a.file.IsValid()) return kCannotOpenFile;

    a.stream.vt.Read = ReadArchive;
    a.stream.vt.Seek = SeekArchive;
    a.stream.file = a.file.Get();
    LookToRead2_CreateVTable(&a.look, False);
    a.lookBuffer = static_cast<Byte*>(ISzAlloc_Alloc(&kHeapAllocator, kLookAheadSize));
    if (a.lookBuffer == nullptr) return kOutOfMemory;
    a.look.buf = a.lookBuffer;
    a.look.bufSize = kLookAheadSize;
    a.look.realStream = &a.stream.vt;
    LookToRead2_INIT(&a.look);

    CrcGenerateTable();
    SzArEx_Init(&a.db);
    a.dbInitialized = true;
    return SzArEx_Open(&a.db, &a.look.vt, &kHeapAllocator, &kHeapAllocator);
}

uint32_t SevenZipArchive::EntryCount() const { return impl_->dbInitialized ? impl_->db.NumFiles : 0; }

bool SevenZipArchive::IsDirectory(uint32_t index) const { return SzArEx_IsDir(&impl_->db, index); }

bool SevenZipArchive::HasAttributes(uint32_t index) const { return SzBitWithVals_Check(&impl_->db.Attribs, index); }

uint32_t SevenZipArchive::Attributes(uint32_t index) const { return impl_->db.Attribs.Vals[index]; }

int SevenZipArchive::ReadName(uint32_t index, std::vector<char16_t>& buffer) const {
    const size_t length = SzArEx_GetFileNameUtf16(&impl_->db, index, nullptr);
    if (buffer.size() < length) {
        try {
            buffer.resize(length);
        } catch (const std::bad_alloc&) {
            return kOutOfMemory;
        }
    }
    SzArEx_GetFileNameUtf16(&impl_->db, index, reinterpret_cast<UInt16*>(buffer.data()));
    return 0;
}

int SevenZipArchive::Extract(uint32_t index, const unsigned char** data, std::size_t* size) {
    Impl& a = *impl_;
    size_t offset = 0;
    size_t processed = 0;
    const SRes result = SzArEx_Extract(&a.db, &a.look.vt, index, &a.blockIndex, &a.outBuffer, &a.outBufferSize,
                                       &offset, &processed, &kHeapAllocator, &kHeapAllocator);
    *data = result == SZ_OK ? a.outBuffer + offset : nullptr;
    *size = result == SZ_OK ? processed : 0;
    return result;
}
