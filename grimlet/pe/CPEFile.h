#pragma once
// Reads a module file's headers and a few of its bytes (the hook test compares them with memory).
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "grimlet/pe/PeHeaders.h"
#include "platform/win32/KernelHandle.h"

class CPEFile {
public:
    explicit CPEFile(const char* path);  // 8-bit path in the ANSI code page
    ~CPEFile();                          // closes the file and frees the buffers
    CPEFile(const CPEFile&) = delete;
    CPEFile& operator=(const CPEFile&) = delete;

    // Opens the file for reading (sharing read, write and delete) and parses its headers. A failed
    // parse closes the file again.
    bool Open();
    bool IsOpen() const { return file_.IsValid(); }
    const PeHeaders& Headers() const { return headers_; }

    bool RvaToOffset(uint32_t rva, uint32_t& fileOffset) const { return headers_.RvaToOffset(rva, fileOffset); }

    // Moves the file position for the next Read.
    bool Seek(uint32_t fileOffset);
    // Reads `count` bytes from the file position into the file's data buffer (replacing an earlier one)
    // and returns it, or null when nothing could be read or the buffer could not be allocated.
    // `bytesRead` tells how many arrived; fewer than `count` at the end of the file.
    const uint8_t* Read(uint32_t count, uint32_t& bytesRead);

    // How many CPEFile objects exist in the process.
    static std::size_t LiveCount();

private:
    class FileSource;
    void Close();

    std::string path_;
    KernelHandle file_;
    PeHeaders headers_;
    std::unique_ptr<uint8_t[]> data_;
};
