// The log line builder: messages and arguments of any length, the 4095-byte cap, the suffix kept.
// The input is read as a recipe, so the format string stays well-formed: bytes become literal text
// ('%' doubled), and control bytes insert %s, %d or %S conversions fed from the input itself.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/log/LogLine.h"

namespace {

std::size_t Build(char* buffer, const logline::LinePrefix& prefix, const char* source, int line,
                  const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::size_t length = logline::BuildLine(buffer, prefix, source, line, format, args);
    va_end(args);
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    std::string format;
    std::string text;   // argument for %s
    std::wstring wide;  // argument for %S
    int number = static_cast<int>(data[0]) * 1000003 - 5000;
    int conversions = 0;
    std::size_t sourceLength = data[1] % 48;
    if (sourceLength > size - 4) sourceLength = size - 4;
    std::string source(reinterpret_cast<const char*>(data + 4), sourceLength);
    for (char& c : source) if (c == 0) c = 'x';
    size_t i = 4 + source.size();
    for (; i < size; ++i) {
        uint8_t byte = data[i];
        if (byte == 0x01 && conversions == 0) {
            format += "%s";
            ++conversions;
            // The rest of the input up to the next 0x02 is the string argument, possibly huge.
            size_t end = i + 1;
            while (end < size && data[end] != 0x02) ++end;
            text.assign(reinterpret_cast<const char*>(data + i + 1), end - i - 1);
            for (char& c : text) if (c == 0) c = 'z';
            if (!text.empty() && static_cast<uint8_t>(text[0]) == 0xFF) text.append(8000, 'y');
            i = end;
            break;
        } else if (byte == '%') {
            format += "%%";
        } else if (byte != 0) {
            format.push_back(static_cast<char>(byte));
        }
    }
    for (; i < size; ++i) wide.push_back(static_cast<wchar_t>('a' + data[i] % 26));
    if (conversions == 0) {
        format += "%s";
    }
    format += " %d [%S]";

    logline::LinePrefix prefix = {0x1234, 0x5678, 12, 31, 23, 59, 59, 999, data[2] * 300u,
                                  logline::LevelLetter(data[3] * 17u)};
    std::vector<char> buffer(logline::kBufferSize + 64, '\x7f');
    std::size_t length = Build(buffer.data(), prefix, source.c_str(), number, format.c_str(), text.c_str(), number,
                               wide.c_str());
    if (length > logline::kBufferSize - 1) abort();
    if (buffer[length] != '\0') abort();
    for (size_t k = logline::kBufferSize; k < buffer.size(); ++k)
        if (buffer[k] != '\x7f') abort();  // nothing written past the line buffer
    char suffix[128];
    int suffixLength = snprintf(suffix, sizeof suffix, "[%s(%d)]\n", source.c_str(), number);
    if (length < static_cast<size_t>(suffixLength) ||
        memcmp(buffer.data() + length - suffixLength, suffix, static_cast<size_t>(suffixLength)) != 0)
        abort();  // the suffix and the line break always survive
    return 0;
}
