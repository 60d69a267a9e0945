#include "platform/payload/FileArchiveInStream.h"

#include <utility>

bool FileArchiveInStream::Open(const wchar_t* path) {
    file_.Attach(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    limited_ = false;
    position_ = 0;
    return file_.IsValid();
}

void FileArchiveInStream::Adopt(KernelHandle file, uint64_t length) {
    file_ = std::move(file);
    limited_ = true;
    length_ = length;
    position_ = 0;
    LARGE_INTEGER start = {};
    SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN);
}

bool FileArchiveInStream::Read(void* buffer, std::size_t* size) {
    uint64_t wanted = *size > 0x40000000 ? 0x40000000 : *size;
    if (limited_) wanted = position_ >= length_ ? 0 : (wanted < length_ - position_ ? wanted : length_ - position_);
    *size = 0;
    if (wanted == 0) return true;
    DWORD got = 0;
    const BOOL ok = ReadFile(file_.Get(), buffer, static_cast<DWORD>(wanted), &got, nullptr);
    *size = got;
    position_ += got;
    return ok != FALSE;
}

bool FileArchiveInStream::Seek(int64_t* position, Origin origin) {
    DWORD method = FILE_BEGIN;
    LARGE_INTEGER distance;
    distance.QuadPart = *position;
    if (origin == Origin::Current) method = FILE_CURRENT;
    if (origin == Origin::End) {
        if (limited_) {
            distance.QuadPart += static_cast<int64_t>(length_);
            if (distance.QuadPart < 0) return false;
        } else {
            method = FILE_END;
        }
    }
    LARGE_INTEGER result;
    if (!SetFilePointerEx(file_.Get(), distance, &result, method)) return false;
    *position = result.QuadPart;
    position_ = static_cast<uint64_t>(result.QuadPart);
    return true;
}
