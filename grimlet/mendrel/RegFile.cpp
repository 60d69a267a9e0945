#include "grimlet/mendrel/RegFile.h"

#include <unordered_set>

namespace {

const char16_t kHeader[] = u"Windows Registry Editor Version 5.00";
constexpr uint32_t kString = 1;
constexpr uint32_t kBinary = 3;
constexpr uint32_t kDword = 4;
// regedit keeps its lines within 80 columns, the continuing backslash included; continued hex lines
// start with two blanks.
constexpr std::size_t kWrapColumn = 79;
constexpr std::size_t kMaxKeyNameLength = 255;

void AppendAscii(std::u16string& text, const char* ascii) {
    while (*ascii) text.push_back(static_cast<char16_t>(*ascii++));
}

char16_t HexDigit(unsigned value) { return static_cast<char16_t>(value < 10 ? u'0' + value : u'a' + value - 10); }

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// The registry compares names without regard to case; ASCII folding catches what our own files and
// regedit's could repeat. Names are remembered folded, so that a repeat is found in constant time.
std::u16string Folded(const std::u16string& name) {
    std::u16string folded = name;
    for (char16_t& c : folded) c = FoldAscii(c);
    return folded;
}

bool HasLineBreak(const std::u16string& text) {
    return text.find(u'\r') != std::u16string::npos || text.find(u'\n') != std::u16string::npos;
}

void AppendEscaped(std::u16string& text, const std::u16string& raw) {
    for (char16_t c : raw) {
        if (c == u'\\' || c == u'"') text.push_back(u'\\');
        text.push_back(c);
    }
}

// Data that reads back as the same bytes when written as "text": whole UTF-16 units ending in one NUL,
// with no other NUL and no line break.
bool IsPlainString(const std::vector<uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    std::size_t units = data.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        bool last = i + 1 == units;
        if ((c == 0) != last || c == u'\r' || c == u'\n') return false;
    }
    return true;
}

void AppendHexBytes(std::u16string& text, std::size_t column, const std::vector<uint8_t>& data) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::size_t width = i + 1 < data.size() ? 3 : 2;
        if (i > 0 && column + width > kWrapColumn) {
            AppendAscii(text, "\\\r\n  ");
            column = 2;
        }
        text.push_back(HexDigit(data[i] >> 4));
        text.push_back(HexDigit(data[i] & 0xF));
        if (width == 3) text.push_back(u',');
        column += width;
    }
}

void AppendValue(std::u16string& text, const RegFileValue& value) {
    std::size_t lineStart = text.size();
    if (value.name.empty()) {
        text.push_back(u'@');
    } else {
        text.push_back(u'"');
        AppendEscaped(text, value.name);
        text.push_back(u'"');
    }
    text.push_back(u'=');
    if (value.absent) {
        AppendAscii(text, "-\r\n");
        return;
    }
    if (value.type == kString && IsPlainString(value.data)) {
        std::u16string content;
        for (std::size_t i = 0; i + 2 < value.data.size(); i += 2)
            content.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
        text.push_back(u'"');
        AppendEscaped(text, content);
        text.push_back(u'"');
    } else if (value.type == kDword && value.data.size() == 4) {
        uint32_t number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) | (uint32_t(value.data[3]) << 24);
        AppendAscii(text, "dword:");
        for (int shift = 28; shift >= 0; shift -= 4) text.push_back(HexDigit((number >> shift) & 0xF));
    } else {
        if (value.type == kBinary) {
            AppendAscii(text, "hex:");
        } else {
            AppendAscii(text, "hex(");
            bool started = false;
            for (int shift = 28; shift >= 0; shift -= 4) {
                unsigned digit = (value.type >> shift) & 0xF;
                if (digit || started || shift == 0) {
                    text.push_back(HexDigit(digit));
                    started = true;
                }
            }
            AppendAscii(text, "):");
        }
        AppendHexBytes(text, text.size() - lineStart, value.data);
    }
    AppendAscii(text, "\r\n");
}

// ---- Reading ----

class Reader {
public:
    Reader(const std::u16string& text, std::string& problem, bool allowAbsent)
        : problem_(problem), allowAbsent_(allowAbsent) {
        tooLong_ = text.size() > RegFile::kMaxTextUnits;
        if (!tooLong_) SplitLines(text);
    }

    bool Parse(std::vector<RegFileKey>& keys) {
        keys.clear();
        std::size_t index = 0;
        if (tooLong_) return Fail(0, "a file larger than a saved service key can be");
        if (lines_.empty() || Trimmed(lines_[0]) != kHeader) return Fail(1, "not a \"Windows Registry Editor Version 5.00\" file");
        for (index = 1; index < lines_.size(); ++index) {
            std::u16string line = Trimmed(lines_[index]);
            if (line.empty() || line[0] == u';') continue;
            if (line[0] == u'[') {
                if (!ReadKeyLine(line, index, keys)) return false;
            } else if (line[0] == u'@' || line[0] == u'"') {
                if (keys.empty()) return Fail(index, "a value outside any key");
                if (keys.back().absent) return Fail(index, "a value in a deleted key");
                if (!ReadValueLine(line, index, keys.back())) return false;
            } else {
                return Fail(index, "neither a key nor a value");
            }
        }
        return true;
    }

private:
    void SplitLines(const std::u16string& text) {
        std::size_t start = 0;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != u'\r' && text[i] != u'\n') continue;
            lines_.push_back(text.substr(start, i - start));
            if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n') ++i;
            start = i + 1;
        }
    }

    static std::u16string Trimmed(const std::u16string& line) {
        std::size_t end = line.size();
        while (end > 0 && (line[end - 1] == u' ' || line[end - 1] == u'\t')) --end;
        return line.substr(0, end);
    }

    bool Fail(std::size_t index, const char* what) {
        problem_ = "line " + std::to_string(index + 1) + ": " + what;
        return false;
    }

    bool ReadKeyLine(const std::u16string& line, std::size_t index, std::vector<RegFileKey>& keys) {
        if (line.size() < 3 || line.back() != u']') return Fail(index, "a key line without its closing bracket");
        std::u16string path = line.substr(1, line.size() - 2);
        const bool absent = path[0] == u'-';
        if (absent && !allowAbsent_) return Fail(index, "a key deletion");
        if (absent) path.erase(0, 1);
        if (path.empty()) return Fail(index, "an empty key name");
        std::size_t componentStart = 0;
        for (std::size_t i = 0; i <= path.size(); ++i) {
            if (i < path.size() && path[i] != u'\\') continue;
            std::size_t length = i - componentStart;
            if (length == 0 || length > kMaxKeyNameLength) return Fail(index, "an empty or overlong key name");
            const std::u16string name = path.substr(componentStart, length);
            if (name == u"." || name == u"..") return Fail(index, "a key named . or ..");
            componentStart = i + 1;
        }
        if (path.find(u'\0') != std::u16string::npos) return Fail(index, "a NUL in a key name");
        if (keys.size() >= RegFile::kMaxKeys) return Fail(index, "more keys than a saved service has");
        if (!keyPaths_.insert(Folded(path)).second) return Fail(index, "a key given twice");
        keys.push_back(RegFileKey{path, {}, absent});
        valueNames_.clear();
        return true;
    }

    // A quoted text starting at `at` (on the opening quote); `at` ends just past the closing quote.
    bool ReadQuoted(const std::u16string& line, std::size_t& at, std::u16string& out, std::size_t index) {
        out.clear();
        for (++at; at < line.size(); ++at) {
            char16_t c = line[at];
            if (c == u'"') {
                ++at;
                return true;
            }
            if (c == u'\\') {
                if (++at >= line.size() || (line[at] != u'\\' && line[at] != u'"'))
                    return Fail(index, "an escape other than \\\\ or \\\"");
                c = line[at];
            }
            out.push_back(c);
        }
        return Fail(index, "a text without its closing quote");
    }

    bool ReadValueLine(const std::u16string& line, std::size_t& index, RegFileKey& key) {
        RegFileValue value;
        std::size_t at = 0;
        if (line[0] == u'@') {
            at = 1;
        } else if (!ReadQuoted(line, at, value.name, index)) {
            return false;
        } else if (value.name.empty()) {
            return Fail(index, "an empty quoted value name (the default value is @)");
        } else if (value.name.find(u'\0') != std::u16string::npos) {
            return Fail(index, "a NUL in a value name");
        }
        if (at >= line.size() || line[at] != u'=') return Fail(index, "a value name without '='");
        std::u16string data = line.substr(at + 1);
        if (!ReadData(data, index, value)) return false;
        if (++valueCount_ > RegFile::kMaxValues) return Fail(index, "more values than a saved service has");
        if (!valueNames_.insert(Folded(value.name)).second) return Fail(index, "a value given twice");
        key.values.push_back(std::move(value));
        return true;
    }

    static bool StartsWith(const std::u16string& text, const char* ascii) {
        std::size_t i = 0;
        for (; ascii[i]; ++i)
            if (i >= text.size() || FoldAscii(text[i]) != static_cast<char16_t>(ascii[i])) return false;
        return true;
    }

    // 1 to 8 hexadecimal digits, the whole of `text`.
    static bool ReadNumber(const std::u16string& text, uint32_t& number) {
        if (text.empty() || text.size() > 8) return false;
        number = 0;
        for (char16_t c : text) {
            int digit = HexValue(c);
            if (digit < 0) return false;
            number = (number << 4) | static_cast<uint32_t>(digit);
        }
        return true;
    }

    bool ReadData(const std::u16string& data, std::size_t& index, RegFileValue& value) {
        if (data == u"-") {
            if (!allowAbsent_) return Fail(index, "a value deletion");
            value.absent = true;
            return true;
        }
        if (!data.empty() && data[0] == u'"') {
            std::size_t at = 0;
            std::u16string content;
            if (!ReadQuoted(data, at, content, index)) return false;
            if (at != data.size()) return Fail(index, "text after a string value");
            value.type = kString;
            for (char16_t c : content) {
                value.data.push_back(static_cast<uint8_t>(c & 0xFF));
                value.data.push_back(static_cast<uint8_t>(c >> 8));
            }
            value.data.push_back(0);
            value.data.push_back(0);
            return true;
        }
        if (StartsWith(data, "dword:")) {
            uint32_t number = 0;
            if (!ReadNumber(data.substr(6), number)) return Fail(index, "a dword that is not 1 to 8 hex digits");
            value.type = kDword;
            for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<uint8_t>(number >> shift));
            return true;
        }
        std::size_t listStart = 0;
        if (StartsWith(data, "hex:")) {
            value.type = kBinary;
            listStart = 4;
        } else if (StartsWith(data, "hex(")) {
            std::size_t close = data.find(u')');
            if (close == std::u16string::npos || close + 1 >= data.size() || data[close + 1] != u':' ||
                !ReadNumber(data.substr(4, close - 4), value.type))
                return Fail(index, "a hex(N) type that is not 1 to 8 hex digits");
            listStart = close + 2;
        } else {
            return Fail(index, "a value that is neither a string, dword: nor hex");
        }
        std::u16string list = data.substr(listStart);
        // A hex list goes on over lines that end in a backslash.
        while (!list.empty() && list.back() == u'\\') {
            list.pop_back();
            if (++index >= lines_.size()) return Fail(index - 1, "a continued hex list at the end of the file");
            std::u16string next = Trimmed(lines_[index]);
            std::size_t first = next.find_first_not_of(u" \t");
            list += first == std::u16string::npos ? std::u16string() : next.substr(first);
        }
        return ReadBytes(list, index, value.data);
    }

    bool ReadBytes(const std::u16string& list, std::size_t index, std::vector<uint8_t>& bytes) {
        std::size_t at = 0;
        auto skipBlanks = [&]() {
            while (at < list.size() && (list[at] == u' ' || list[at] == u'\t')) ++at;
        };
        skipBlanks();
        if (at == list.size()) return true;
        for (;;) {
            skipBlanks();
            int high = at < list.size() ? HexValue(list[at]) : -1;
            if (high < 0) return Fail(index, "a hex byte that is not one or two hex digits");
            ++at;
            int low = at < list.size() ? HexValue(list[at]) : -1;
            if (low >= 0) {
                ++at;
                bytes.push_back(static_cast<uint8_t>(high * 16 + low));
            } else {
                bytes.push_back(static_cast<uint8_t>(high));
            }
            skipBlanks();
            if (at == list.size()) return true;
            if (list[at] != u',') return Fail(index, "hex bytes not separated by commas");
            ++at;
        }
    }

    std::vector<std::u16string> lines_;
    std::string& problem_;
    bool allowAbsent_;
    bool tooLong_ = false;
    std::unordered_set<std::u16string> keyPaths_;    // folded
    std::unordered_set<std::u16string> valueNames_;  // of the current key, folded
    std::size_t valueCount_ = 0;
};

}  // namespace

bool operator==(const RegFileValue& left, const RegFileValue& right) {
    return left.name == right.name && left.absent == right.absent &&
           (left.absent || (left.type == right.type && left.data == right.data));
}

bool operator==(const RegFileKey& left, const RegFileKey& right) {
    return left.path == right.path && left.absent == right.absent && left.values == right.values;
}

namespace RegFile {

bool Format(const std::vector<RegFileKey>& keys, std::u16string& text, std::string& problem) {
    text = kHeader;
    AppendAscii(text, "\r\n");
    for (const RegFileKey& key : keys) {
        if (key.path.empty() || HasLineBreak(key.path) || key.path.find(u'\0') != std::u16string::npos) {
            problem = "a key path that is empty or holds a line break or a NUL";
            return false;
        }
        if (key.absent && !key.values.empty()) {
            problem = "values in a key that did not exist";
            return false;
        }
        AppendAscii(text, key.absent ? "\r\n[-" : "\r\n[");
        text += key.path;
        AppendAscii(text, "]\r\n");
        for (const RegFileValue& value : key.values) {
            if (HasLineBreak(value.name) || value.name.find(u'\0') != std::u16string::npos) {
                problem = "a value name with a line break or a NUL";
                return false;
            }
            AppendValue(text, value);
        }
    }
    AppendAscii(text, "\r\n");
    return true;
}

bool Parse(const std::u16string& text, std::vector<RegFileKey>& keys, std::string& problem, bool allowAbsent) {
    return Reader(text, problem, allowAbsent).Parse(keys);
}

std::vector<uint8_t> Encode(const std::u16string& text) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    bytes.reserve(2 + text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

bool Decode(const std::vector<uint8_t>& bytes, std::u16string& text) {
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes[0] != 0xFF || bytes[1] != 0xFE) return false;
    text.clear();
    text.reserve(bytes.size() / 2 - 1);
    for (std::size_t i = 2; i < bytes.size(); i += 2) text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return true;
}

}  // namespace RegFile
