#pragma once
#include <windows.h>

#include <cstdint>

#include "platform/payload/ArchiveInStream.h"
#include "platform/win32/KernelHandle.h"

// An archive file opened for reading (share read). Windows only; the decoder sees it through
// IArchiveInStream.
class FileArchiveInStream final : public IArchiveInStream {
public:
    // False when the file cannot be opened.
    bool Open(const wchar_t* path);
    // Reads the file already open as `file`, from its start, as if it ended after `length` bytes: the
    // decoder sees exactly the bytes that were checked through this handle.
    void Adopt(KernelHandle file, uint64_t length);

    bool Read(void* buffer, std::size_t* size) override;
    bool Seek(int64_t* position, Origin origin) override;

private:
    KernelHandle file_;
    bool limited_ = false;
    uint64_t length_ = 0;
    uint64_t position_ = 0;
};
