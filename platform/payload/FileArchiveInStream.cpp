#include "platform/payload/FileArchiveInStream.h"

bool FileArchiveInStream::Open(const wchar_t* path) {
    file_.Attach(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    return file_.IsValid();
}

bool FileArchiveInStream::Read(void* buffer, std::size_t* size) {
    const DWORD wanted = *size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(*size);
    DWORD got = 0;
    const BOOL ok = ReadFile(file_.Get(), buffer, wanted, &got, nullptr);
    *size = got;
    return ok != FALSE;
}

bool FileArchiveInStream::Seek(int64_t* position, Origin origin) {
    DWORD method = FILE_BEGIN;
    if (origin == Origin::Current) method = FILE_CURRENT;
    if (origin == Origin::End) method = FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = *position;
    LARGE_INTEGER result;
    if (!SetFilePointerEx(file_.Get(), distance, &result, method)) return false;
    *position = result.QuadPart;
    return true;
}
