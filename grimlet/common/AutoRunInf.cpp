#include "grimlet/common/AutoRunInf.h"

#include <set>

namespace AutoRunInf {
namespace {

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

std::u16string Lowered(std::u16string text) {
    for (char16_t& c : text) c = Lower(c);
    return text;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string Trimmed(const std::u16string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::u16string Decode(const std::vector<uint8_t>& bytes) {
    std::u16string text;
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        // An odd last byte is half a character: the profile functions drop it too.
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        return text;
    }
    std::size_t start = (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) ? 3 : 0;
    for (std::size_t i = start; i < bytes.size(); ++i)
        text.push_back(bytes[i] < 0x80 ? static_cast<char16_t>(bytes[i]) : u'\xFFFD');
    return text;
}

// The action keys that start a program. "shell" alone names the default verb, not a command.
bool IsActionKey(const std::u16string& lowered) {
    if (lowered == u"open" || lowered == u"shellexecute") return true;
    const std::u16string head = u"shell\\", tail = u"\\command";
    if (lowered.size() <= head.size() + tail.size()) return false;
    if (lowered.compare(0, head.size(), head) != 0) return false;
    if (lowered.compare(lowered.size() - tail.size(), tail.size(), tail) != 0) return false;
    const std::u16string verb = lowered.substr(head.size(), lowered.size() - head.size() - tail.size());
    return verb.find(u'\\') == std::u16string::npos && !Trimmed(verb).empty();
}

std::u16string Unquoted(const std::u16string& value) {
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"') return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

bool Parse(const std::vector<uint8_t>& bytes, Contents& contents, std::string& problem) {
    contents = Contents();
    problem.clear();
    if (bytes.size() > kMaxBytes) {
        problem = "autorun.inf is larger than " + std::to_string(kMaxBytes) + " bytes";
        return false;
    }
    const std::u16string text = Decode(bytes);
    std::set<std::u16string> seenKeys;  // lowered, after the section: "a:" or "x:"
    char16_t section = 0;               // 'a' [AutoRun], 'x' [AutoRun.Amd64], 0 any other
    std::size_t pos = 0;
    while (pos <= text.size()) {
        // A NUL ends a line as a line break does: a command hidden behind one is still seen.
        std::size_t end = text.find_first_of(std::u16string(u"\r\n\0", 3), pos);
        if (end == std::u16string::npos) end = text.size();
        const std::u16string line = Trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == u';') continue;
        if (line[0] == u'[') {
            const std::size_t close = line.find(u']');
            if (close == std::u16string::npos) continue;  // junk: the section stays as it was
            const std::u16string name = Lowered(Trimmed(line.substr(1, close - 1)));
            section = name == u"autorun" ? u'a' : name == u"autorun.amd64" ? u'x' : 0;
            continue;
        }
        if (!section) continue;
        const std::size_t equals = line.find(u'=');
        if (equals == std::u16string::npos || equals == 0) continue;
        const std::u16string key = Trimmed(line.substr(0, equals));
        const std::u16string lowered = std::u16string(1, section) + u':' + Lowered(key);
        if (!seenKeys.insert(lowered).second) continue;
        if (!IsActionKey(lowered.substr(2))) continue;
        contents.actions.push_back(Action{key, Unquoted(Trimmed(line.substr(equals + 1)))});
    }
    return true;
}

namespace {

// The next argument as the C run-time splits a command line: quoted text, or text up to a blank.
// rundll32 also ends its DLL argument at a comma.
std::u16string NextArgument(const std::u16string& command, std::size_t& pos, bool endAtComma) {
    while (pos < command.size() && IsBlank(command[pos])) ++pos;
    std::u16string argument;
    if (pos < command.size() && command[pos] == u'"') {
        const std::size_t close = command.find(u'"', pos + 1);
        const std::size_t end = close == std::u16string::npos ? command.size() : close;
        argument = command.substr(pos + 1, end - pos - 1);
        pos = close == std::u16string::npos ? command.size() : close + 1;
        return argument;
    }
    while (pos < command.size() && !IsBlank(command[pos]) && !(endAtComma && command[pos] == u',')) {
        argument.push_back(command[pos]);
        ++pos;
    }
    return argument;
}

bool Refuse(std::string& problem, const char* reason) {
    problem = reason;
    return false;
}

}  // namespace

bool Rundll32Target(const std::u16string& command, char16_t driveLetter, std::u16string& relativePath,
                    std::string& problem) {
    relativePath.clear();
    problem.clear();
    std::size_t pos = 0;
    const std::u16string program = Lowered(NextArgument(command, pos, false));
    const std::size_t slash = program.find_last_of(u"\\/");
    const std::u16string programName = slash == std::u16string::npos ? program : program.substr(slash + 1);
    if (programName != u"rundll32" && programName != u"rundll32.exe")
        return Refuse(problem, "the command does not start rundll32");
    std::u16string dll = NextArgument(command, pos, true);
    if (dll.empty()) return Refuse(problem, "rundll32 names no DLL");
    if (dll.find_first_of(u"%*?<>|\"\xFFFD") != std::u16string::npos)
        return Refuse(problem, "the DLL's name cannot be resolved safely");
    for (char16_t& c : dll)
        if (c == u'/') c = u'\\';
    if (dll.size() >= 2 && dll[1] == u':') {
        if (Lower(dll[0]) != Lower(driveLetter)) return Refuse(problem, "the DLL lies on another drive");
        dll.erase(0, 2);
    }
    if (dll.compare(0, 2, u"\\\\") == 0) return Refuse(problem, "the DLL lies on a share");
    // Explorer starts the command in the drive's root, so a relative name and a rooted one both name a
    // file from that root.
    while (!dll.empty() && dll[0] == u'\\') dll.erase(0, 1);
    if (dll.empty() || dll.back() == u'\\') return Refuse(problem, "rundll32 names no DLL");
    if (dll.find(u':') != std::u16string::npos) return Refuse(problem, "the DLL's name holds a stream");
    // A "." part names the folder it is in (".\\wrm.dll" is common); ".." or an empty part is refused.
    std::u16string normal;
    std::size_t start = 0;
    while (start <= dll.size()) {
        std::size_t end = dll.find(u'\\', start);
        if (end == std::u16string::npos) end = dll.size();
        const std::u16string raw = dll.substr(start, end - start);
        const std::u16string part = Trimmed(raw);
        if (part.empty() || part == u"..")
            return Refuse(problem, "the DLL's path holds an empty or \"..\" part");
        if (part != u".") normal += (normal.empty() ? u"" : u"\\") + raw;
        start = end + 1;
    }
    if (normal.empty()) return Refuse(problem, "rundll32 names no DLL");
    relativePath = normal;
    return true;
}

}  // namespace AutoRunInf
