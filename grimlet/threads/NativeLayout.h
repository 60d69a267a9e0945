#pragma once
// The only place where the 32-bit and the 64-bit build differ in how they read another process: the
// width of a stack word, and where the thread and process blocks keep the stack's bounds, the image
// base, the command line and the loader lock. The shipped 32-bit
// plug-in reads the 32-bit blocks; the 64-bit test build runs the very same code over the 64-bit ones.
#include <windows.h>

#include <cstddef>
#include <cstdint>

using StackWord = uintptr_t;  // one slot of a thread's stack

namespace NativeLayout {

#ifdef _WIN64
constexpr std::size_t kTebStackBase = 0x08;           // NT_TIB.StackBase
constexpr std::size_t kTebStackLimit = 0x10;          // NT_TIB.StackLimit
constexpr std::size_t kPebImageBase = 0x10;           // PEB.ImageBaseAddress
constexpr std::size_t kPebProcessParameters = 0x20;   // PEB.ProcessParameters
constexpr std::size_t kPebLoaderLock = 0x110;         // PEB.LoaderLock
constexpr std::size_t kCriticalSectionOwner = 0x10;   // RTL_CRITICAL_SECTION.OwningThread
constexpr std::size_t kParametersCommandLine = 0x70;  // RTL_USER_PROCESS_PARAMETERS.CommandLine
constexpr std::size_t kPebReadSize = 0x380;
constexpr std::size_t kParametersReadSize = 0x80;
#else
constexpr std::size_t kTebStackBase = 0x04;
constexpr std::size_t kTebStackLimit = 0x08;
constexpr std::size_t kPebImageBase = 0x08;
constexpr std::size_t kPebProcessParameters = 0x10;
constexpr std::size_t kPebLoaderLock = 0xA0;
constexpr std::size_t kCriticalSectionOwner = 0x0C;
constexpr std::size_t kParametersCommandLine = 0x40;
constexpr std::size_t kPebReadSize = 472;
constexpr std::size_t kParametersReadSize = 72;
#endif

// A UNICODE_STRING: 16-bit byte length, 16-bit capacity, then the buffer pointer at pointer alignment.
constexpr std::size_t kCommandLineLength = kParametersCommandLine;
constexpr std::size_t kCommandLineBuffer = kParametersCommandLine + sizeof(void*);

// Reads a little-endian value of type T at `offset` of a block copied from another process.
template <typename T>
T ReadField(const unsigned char* block, std::size_t offset) {
    T value;
    memcpy(&value, block + offset, sizeof value);
    return value;
}

}  // namespace NativeLayout
