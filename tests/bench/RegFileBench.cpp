// Prints the cost of reading a saved-key file with RegFile::Parse, against decoding the same bytes
// (RegFile::Decode: one pass that touches every unit) measured in the same run: a 16 MiB file, the most
// a restore reads, of many keys with hex values, and a file of 20,000 subkeys of one service.
#include <windows.h>

#include <cstdio>
#include <string>

#include "grimlet/mendrel/RegFile.h"
#include "tests/support/BenchClock.h"

using testsupport::NowMs;

namespace {

void Append(std::u16string& text, const std::string& ascii) { text.append(ascii.begin(), ascii.end()); }

// Keys of `valuesPerKey` values each until the text reaches `units`.
std::u16string SavedKeys(std::size_t units, int valuesPerKey, std::size_t hexBytes) {
    std::u16string text;
    Append(text, "Windows Registry Editor Version 5.00\r\n");
    std::string hex;
    for (std::size_t i = 0; i < hexBytes; ++i) hex += (i % 25 == 24) ? "5a,\\\r\n  " : "5a,";
    hex += "00";
    for (int key = 0; text.size() < units && key < static_cast<int>(RegFile::kMaxKeys); ++key) {
        Append(text, "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Bench\\k" + std::to_string(key) +
                         "]\r\n");
        for (int value = 0; value < valuesPerKey && text.size() < units; ++value)
            Append(text, "\"v" + std::to_string(value) + "\"=hex:" + hex + "\r\n");
    }
    return text;
}

void Measure(const char* what, const std::u16string& text) {
    std::vector<uint8_t> bytes = RegFile::Encode(text);
    double start = NowMs();
    std::u16string decoded;
    RegFile::Decode(bytes, decoded);
    double peer = NowMs() - start;
    std::vector<RegFileKey> keys;
    std::string problem;
    start = NowMs();
    bool read = RegFile::Parse(decoded, keys, problem);
    double parse = NowMs() - start;
    std::printf("%s: %.1f MiB, %u keys %s; Parse %.0f ms, Decode of the same bytes %.0f ms, ratio %.1f\n", what,
                bytes.size() / 1048576.0, static_cast<unsigned>(keys.size()), read ? "read" : problem.c_str(), parse,
                peer, parse / (peer > 0.001 ? peer : 0.001));
}

}  // namespace

int main() {
    Measure("16 MiB of keys with hex values", SavedKeys(RegFile::kMaxTextUnits - 4096, 8, 400));
    Measure("20,000 subkeys of one service", SavedKeys(RegFile::kMaxTextUnits, 0, 0));
    return 0;
}
