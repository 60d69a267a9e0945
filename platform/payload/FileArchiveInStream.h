#pragma once
#include <windows.h>

#include "platform/payload/ArchiveInStream.h"
#include "platform/win32/KernelHandle.h"

// An archive file opened for reading (share read). Windows only; the decoder sees it through
// IArchiveInStream.
class FileArchiveInStream final : public IArchiveInStream {
public:
    // False when the file cannot be opened.
    bool Open(const wchar_t* path);

    bool Read(void* buffer, std::size_t* size) override;
    bool Seek(int64_t* position, Origin origin) override;

private:
    KernelHandle file_;
};
