#pragma once
// Registry keys as the text regedit imports ("Windows Registry Editor Version 5.00"). The engine saves
// each service key it deletes in this form and reads it back to restore the key. Kept free of Win32
// types so that the parser can be exercised on any input: a saved file lies on a machine the worm ran
// on, so it is read as untrusted text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RegFileValue {
    std::u16string name;  // empty: the key's default value
    uint32_t type = 0;    // REG_SZ, REG_BINARY, ... as the registry numbers them
    std::vector<uint8_t> data;
    bool absent = false;  // the value did not exist: "name"=- (type and data unused)
};

struct RegFileKey {
    std::u16string path;  // "HKEY_LOCAL_MACHINE\..."
    std::vector<RegFileValue> values;
    bool absent = false;  // the key did not exist: [-path], without values
};

bool operator==(const RegFileValue& left, const RegFileValue& right);
bool operator==(const RegFileKey& left, const RegFileKey& right);

namespace RegFile {

// What a saved service key can come to, and the most Parse reads: the text of a 16 MiB file, and keys
// and values far beyond what a service holds. Parse takes time in proportion to the text.
constexpr std::size_t kMaxTextUnits = 8u << 20;
constexpr std::size_t kMaxKeys = 20000;
constexpr std::size_t kMaxValues = 200000;

// The text, without the byte-order mark, that recreates exactly these keys, values, types and bytes.
// A string is written as text only when it reads back to the same bytes; anything else (no final NUL,
// an inner NUL, an odd length, a line break) is written as hex(1). False, with the reason, for a key
// or value name that the format cannot carry (a line break in it).
bool Format(const std::vector<RegFileKey>& keys, std::u16string& text, std::string& problem);

// Reads what Format writes (and regedit's own exports of the same forms): the header line, [key]
// sections, @= and "name"= values as strings, dword:, hex: and hex(N):, with continued hex lines and
// comment lines. Refuses, with the reason, anything else: deletions, unknown escapes, duplicate keys or
// values, a value outside a key, text after a value, a NUL in a name, a key named "." or "..", and more
// text, keys or values than the limits above. With `allowAbsent`, deletions ([-key] without values,
// "name"=-) are read as absent keys and values; saved service keys never hold any.
bool Parse(const std::u16string& text, std::vector<RegFileKey>& keys, std::string& problem, bool allowAbsent = false);

// UTF-16 little-endian bytes with the byte-order mark, as regedit writes its files.
std::vector<uint8_t> Encode(const std::u16string& text);
// The reverse; false without the mark or with an odd number of bytes.
bool Decode(const std::vector<uint8_t>& bytes, std::u16string& text);

}  // namespace RegFile
