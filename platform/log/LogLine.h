#pragma once
// The log line builder and filter. No Win32 types: it is also compiled natively for fuzzing.
#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace logline {

constexpr std::size_t kBufferSize = 4096;  // a line never exceeds kBufferSize - 1 bytes

constexpr uint32_t kLevelBits = 0x00000FFF;
constexpr uint32_t kCategoryBits = 0x0FFFF000;
constexpr uint32_t kProgramCategory = 0x02000000;
constexpr uint32_t kToFile = 0x20000000;
constexpr uint32_t kToDebugger = 0x40000000;
constexpr uint32_t kToEventTrace = 0x80000000;

// True when a message word shares a category bit and a level bit with the configuration.
inline bool Passes(uint32_t mask, uint32_t level) {
    return (level & mask & kCategoryBits) != 0 && (level & mask & kLevelBits) != 0;
}

// The prefix letter of the one level bit in `level`; blank for none or several.
char LevelLetter(uint32_t level);

struct LinePrefix {
    uint32_t processId;
    uint32_t threadId;
    int month, day, hour, minute, second, millisecond;
    unsigned sequence;  // printed modulo 1000
    char letter;
};

// Portable vsnprintf with the platform's conversions ("%S" is a wide string on both targets).
// Writes at most size - 1 characters and a NUL; returns the characters written, or -1 when the
// format could not be converted. Never writes past `size`.
int FormatBounded(char* buffer, std::size_t size, const char* format, va_list args);

// Builds "prefix message[source(line)]\n" into buffer (kBufferSize bytes). `source` is 8-bit text.
// The message is cut so that the suffix and the line break always fit. Returns the line length.
std::size_t BuildLine(char* buffer, const LinePrefix& prefix, const char* source, int line,
                      const char* format, va_list args);

}  // namespace logline
