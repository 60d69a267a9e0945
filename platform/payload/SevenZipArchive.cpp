#include "platform/payload/SevenZipArchive.h"

#ifdef _WIN32
#include "platform/payload/FileArchiveInStream.h"
#endif

#include <new>

#include "7z.h"
#include "7zCrc.h"
#include "platform/payload/SevenZipHeap.h"

namespace {

constexpr std::size_t kLookAheadSize = 1 << 14;

// The decoder's view of the archive. `vt` comes first: the decoder hands back a pointer to it.
struct DecoderInStream {
    ISeekInStream vt;
    IArchiveInStream* stream;
};

SRes ReadArchive(ISeekInStreamPtr stream, void* buffer, size_t* size) {
    const DecoderInStream* self = reinterpret_cast<const DecoderInStream*>(stream);
    return self->stream->Read(buffer, size) ? SZ_OK : SZ_ERROR_READ;
}

SRes SeekArchive(ISeekInStreamPtr stream, Int64* position, ESzSeek origin) {
    const DecoderInStream* self = reinterpret_cast<const DecoderInStream*>(stream);
    IArchiveInStream::Origin from = IArchiveInStream::Origin::Begin;
    if (origin == SZ_SEEK_CUR) from = IArchiveInStream::Origin::Current;
    if (origin == SZ_SEEK_END) from = IArchiveInStream::Origin::End;
    int64_t to = *position;
    if (!self->stream->Seek(&to, from)) return SZ_ERROR_READ;
    *position = to;
    return SZ_OK;
}

}  // namespace

struct SevenZipArchive::Impl {
    std::unique_ptr<IArchiveInStream> ownedStream;
    SevenZipHeap heap;  // outlives every block below
    DecoderInStream stream = {};
    CLookToRead2 look = {};
    Byte* lookBuffer = nullptr;
    CSzArEx db;
    bool dbInitialized = false;
    // The solid-block cache of SzArEx_Extract.
    UInt32 blockIndex = 0xFFFFFFFF;
    Byte* outBuffer = nullptr;
    size_t outBufferSize = 0;

    ~Impl() {
        ISzAlloc_Free(heap.Allocator(), outBuffer);
        if (dbInitialized) SzArEx_Free(&db, heap.Allocator());
        ISzAlloc_Free(heap.Allocator(), lookBuffer);
    }
};

SevenZipArchive::SevenZipArchive() : impl_(new Impl) {}

SevenZipArchive::~SevenZipArchive() = default;

#ifdef _WIN32
int SevenZipArchive::Open(const wchar_t* path) {
    if (path == nullptr) return kCannotOpenFile;
    std::unique_ptr<FileArchiveInStream> file(new FileArchiveInStream);
    if (!file->Open(path)) {
        impl_.reset(new Impl);
        return kCannotOpenFile;
    }
    const int result = Open(*file);
    impl_->ownedStream = std::move(file);
    return result;
}
#endif

int SevenZipArchive::Open(std::unique_ptr<IArchiveInStream> stream) {
    const int result = Open(*stream);
    impl_->ownedStream = std::move(stream);
    return result;
}

int SevenZipArchive::Open(IArchiveInStream& source) {
    impl_.reset(new Impl);
    Impl& a = *impl_;
    a.stream.vt.Read = ReadArchive;
    a.stream.vt.Seek = SeekArchive;
    a.stream.stream = &source;
    LookToRead2_CreateVTable(&a.look, False);
    a.lookBuffer = static_cast<Byte*>(ISzAlloc_Alloc(a.heap.Allocator(), kLookAheadSize));
    if (a.lookBuffer == nullptr) return kOutOfMemory;
    a.look.buf = a.lookBuffer;
    a.look.bufSize = kLookAheadSize;
    a.look.realStream = &a.stream.vt;
    LookToRead2_INIT(&a.look);

    CrcGenerateTable();
    SzArEx_Init(&a.db);
    a.dbInitialized = true;
    return SzArEx_Open(&a.db, &a.look.vt, a.heap.Allocator(), a.heap.Allocator());
}

uint32_t SevenZipArchive::EntryCount() const { return impl_->dbInitialized ? impl_->db.NumFiles : 0; }

bool SevenZipArchive::IsDirectory(uint32_t index) const { return SzArEx_IsDir(&impl_->db, index); }

bool SevenZipArchive::HasAttributes(uint32_t index) const { return SzBitWithVals_Check(&impl_->db.Attribs, index); }

uint32_t SevenZipArchive::Attributes(uint32_t index) const { return impl_->db.Attribs.Vals[index]; }

int SevenZipArchive::ReadName(uint32_t index, std::vector<char16_t>& buffer) const {
    // An archive may store no names at all; the decoder then has no name table to look into.
    const bool named = impl_->db.FileNameOffsets != nullptr;
    const size_t length = named ? SzArEx_GetFileNameUtf16(&impl_->db, index, nullptr) : 1;
    if (buffer.size() < length) {
        try {
            buffer.resize(length);
        } catch (const std::bad_alloc&) {
            return kOutOfMemory;
        }
    }
    if (named) {
        SzArEx_GetFileNameUtf16(&impl_->db, index, reinterpret_cast<UInt16*>(buffer.data()));
    } else {
        buffer[0] = u'\0';
    }
    return 0;
}

int SevenZipArchive::Extract(uint32_t index, const unsigned char** data, std::size_t* size) {
    Impl& a = *impl_;
    size_t offset = 0;
    size_t processed = 0;
    const SRes result = SzArEx_Extract(&a.db, &a.look.vt, index, &a.blockIndex, &a.outBuffer, &a.outBufferSize,
                                       &offset, &processed, a.heap.Allocator(), a.heap.Allocator());
    *data = result == SZ_OK ? a.outBuffer + offset : nullptr;
    *size = result == SZ_OK ? processed : 0;
    return result;
}
