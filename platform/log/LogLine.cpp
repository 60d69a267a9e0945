#include "platform/log/LogLine.h"

#include <cstdio>
#include <cstring>

namespace logline {

char LevelLetter(uint32_t level) {
    switch (level & kLevelBits) {
    case 0x001: return '!';
    case 0x002: return '*';
    case 0x004: return 'W';
    case 0x008: return '-';
    case 0x010: return 'I';
    case 0x020: return 'O';
    case 0x040: return '.';
    case 0x080: return '1';
    case 0x100: return '2';
    case 0x200: return '3';
    case 0x400: return '4';
    case 0x800: return '5';
    default: return ' ';
    }
}

int FormatBounded(char* buffer, std::size_t size, const char* format, va_list args) {
    if (size == 0) return -1;
#ifdef _WIN32
    // msvcrt's formatter: "%S" takes a wide string and converts it in the C runtime's locale.
    // It does not terminate a full buffer, and returns -1 when the text did not fit.
    int written = _vsnprintf(buffer, size - 1, format, args);
    buffer[size - 1] = '\0';
    if (written < 0) {
        written = static_cast<int>(strlen(buffer));
    }
    return written;
#else
    int written = vsnprintf(buffer, size, format, args);
    if (written < 0) {
        buffer[0] = '\0';
        return -1;
    }
    if (static_cast<std::size_t>(written) >= size) written = static_cast<int>(size - 1);
    return written;
#endif
}

namespace {

int FormatArgs(char* buffer, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = FormatBounded(buffer, size, format, args);
    va_end(args);
    return written;
}

}  // namespace

std::size_t BuildLine(char* buffer, const LinePrefix& p, const char* source, int line, const char* format,
                      va_list args) {
    // The suffix is formatted first, on the side, so that the message can be cut to leave room for it.
    char suffix[300];
    int suffixLength = FormatArgs(suffix, sizeof suffix, "[%.256s(%d)]\n", source ? source : "", line);
    if (suffixLength < 0) suffixLength = 0;

    int prefixLength = FormatArgs(buffer, kBufferSize, "[%04x:%04x] %02d/%02d %02d:%02d:%02d:%03d-%03d [%c] ",
                                  static_cast<unsigned>(p.processId), static_cast<unsigned>(p.threadId), p.month,
                                  p.day, p.hour, p.minute, p.second, p.millisecond, p.sequence % 1000, p.letter);
    if (prefixLength < 0) prefixLength = 0;

    std::size_t room = kBufferSize - 1 - static_cast<std::size_t>(prefixLength) - static_cast<std::size_t>(suffixLength);
    int messageLength = 0;
    if (format != nullptr) {
        messageLength = FormatBounded(buffer + prefixLength, room + 1, format, args);
        if (messageLength < 0) messageLength = static_cast<int>(strlen(buffer + prefixLength));
    }
    std::size_t length = static_cast<std::size_t>(prefixLength) + static_cast<std::size_t>(messageLength);
    memcpy(buffer + length, suffix, static_cast<std::size_t>(suffixLength));
    length += static_cast<std::size_t>(suffixLength);
    buffer[length] = '\0';
    return length;
}

}  // namespace logline
