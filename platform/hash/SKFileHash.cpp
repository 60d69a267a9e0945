#include "platform/hash/SKFileHash.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/access/SKSmartFD.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"

static const wchar_t kLogSource[] = L"SKFileHash";

bool HashFile(SmartFD& file, uint8_t* md5, uint8_t* sha1) {
    FileDigest digest(md5 != nullptr, sha1 != nullptr);
    // One buffer per call, on the heap: a 256 KiB stack array would not fit every thread's stack.
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[SmartFD::kBlockSize]);
    if (!block) {
        TW_LOG(LogLevel::Error, "Read file error = %d", ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    // The size is taken before reading so that a file growing under the reader is noticed as well as
    // one shrinking.
    const DWORD sizeBefore = file.Size();
    DWORD total = 0;
    for (;;) {
        DWORD got = 0;
        if (!file.Read(block.get(), SmartFD::kBlockSize, &got)) {
            TW_LOG(LogLevel::Error, "Read file error = %d", (int)GetLastError());
            break;
        }
        if (got == 0) break;
        digest.Update(block.get(), got);
        total += got;
    }
    uint8_t md5Value[FileDigest::kMd5Size];
    uint8_t sha1Value[FileDigest::kSha1Size];
    digest.Finish(md5Value, sha1Value);

    const DWORD sizeAfter = file.Size();
    if (total != sizeBefore || sizeAfter != sizeBefore) {
        const DWORD reported = total != sizeBefore ? sizeBefore : sizeAfter;
        TW_LOG(LogLevel::Error, "size = %d, read_size = %d", (int)reported, (int)total);
        return false;
    }
    if (md5) memcpy(md5, md5Value, sizeof md5Value);
    if (sha1) memcpy(sha1, sha1Value, sizeof sha1Value);
    return true;
}

bool HashFileSha1(SmartFD& file, uint8_t* sha1) {
    return HashFile(file, nullptr, sha1);
}
