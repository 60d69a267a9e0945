#include "grimlet/mendrel/MendrelCommandLine.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <cwctype>

#include "grimlet/mendrel/TaskRemoval.h"
#include "grimlet/tasks/RegisteredTasks.h"
#include "platform/win32/LocalMemory.h"

namespace {

const wchar_t kWormName[] = L"WORM_GRIMLET.";

class ArgumentList {
public:
    explicit ArgumentList(const wchar_t* commandLine) : arguments_(CommandLineToArgvW(commandLine, &count_)) {}
    int Count() const { return arguments_.IsValid() ? count_ : 0; }
    const wchar_t* operator[](int index) const { return arguments_.Get()[index]; }

private:
    int count_ = 0;  // before arguments_: the constructor fills it while making arguments_
    LocalMemory<wchar_t**> arguments_;
};

// "-NAME=value" or "-NAME": true when the switch name matches; `value` gets what follows '='.
bool MatchSwitch(const std::wstring& argument, const wchar_t* name, bool wantsValue, std::wstring& value) {
    std::size_t nameLength = wcslen(name);
    if (argument.size() < nameLength + 1 || argument[0] != L'-') return false;
    if (_wcsnicmp(argument.c_str() + 1, name, nameLength) != 0) return false;
    std::wstring rest = argument.substr(nameLength + 1);
    if (!wantsValue) return rest.empty();
    if (rest.empty() || rest[0] != L'=') return false;
    value = rest.substr(1);
    return true;
}

bool IsSha1Text(const std::wstring& text) {
    return text.size() == 40 && text.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
}

std::string UpperAscii(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(static_cast<char>(towupper(c)));
    return out;
}

// -assign=WORM_GRIMLET. -TASK=<name> -SHA1=<hex>, each once, in any order, nothing else.
bool ParseTaskLine(const ArgumentList& arguments, MendrelCommandLine& line, std::wstring& problem) {
    bool seenAssign = false, seenTask = false, seenSha1 = false;
    for (int index = 1; index < arguments.Count(); ++index) {
        const std::wstring argument = arguments[index];
        std::wstring value;
        if (MatchSwitch(argument, L"assign", true, value) && !seenAssign && value == kWormName) {
            seenAssign = true;
        } else if (MatchSwitch(argument, L"TASK", true, value) && !seenTask &&
                   (TaskRemoval::IsJobFileName(value) || IsRegisteredTaskPath(value))) {
            line.taskName = value;
            seenTask = true;
        } else if (MatchSwitch(argument, L"SHA1", true, value) && !seenSha1 && IsSha1Text(value)) {
            line.sha1 = UpperAscii(value);
            seenSha1 = true;
        } else {
            problem = L"unknown, repeated or malformed argument of a task removal: " + argument;
            return false;
        }
    }
    if (!seenAssign || !seenTask || !seenSha1) {
        problem = L"missing one of -assign, -TASK, -SHA1";
        return false;
    }
    line.command = MendrelCommandLine::Command::Task;
    return true;
}

}  // namespace

bool MendrelCommandLine::IsAbsoluteFilePath(const std::wstring& path) {
    if (path.size() < 4 || path.size() >= MAX_PATH) return false;
    if (path.find_first_of(L"*?\"<>|") != std::wstring::npos) return false;
    if (path.back() == L'\\' || path.back() == L'/') return false;
    bool drivePath = iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    bool uncPath = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.' && path[2] != L'\\';
    if (!drivePath && !uncPath) return false;
    // A colon past the drive would name a stream, not a file.
    return path.find(L':', 2) == std::wstring::npos;
}

bool MendrelCommandLine::IsPlainDrivePath(const std::wstring& path) {
    if (!IsAbsoluteFilePath(path) || path[1] != L':' || path[2] != L'\\' || path.find(L'/') != std::wstring::npos)
        return false;
    for (std::size_t start = 3;;) {
        const std::size_t slash = path.find(L'\\', start);
        const std::wstring name = path.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
        if (name.empty() || name == L"." || name == L".." || name.back() == L'.' || name.back() == L' ') return false;
        for (wchar_t c : name)
            if (c < 32) return false;
        if (slash == std::wstring::npos) return true;
        start = slash + 1;
    }
}

namespace {

bool IsSha1Digits(const std::wstring& text) {
    return text.size() == 40 && text.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
}

}  // namespace

bool MendrelCommandLine::ParseDriveCopy(const std::vector<std::wstring>& arguments, std::wstring& problem) {
    bool seenAssign = false, seenCopy = false, seenAutoRun = false, seenSha1 = false;
    std::wstring sha1Text;
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        const std::wstring& argument = arguments[index];
        std::wstring value;
        if (MatchSwitch(argument, L"assign", true, value) && !seenAssign && value == kWormName) {
            seenAssign = true;
        } else if (MatchSwitch(argument, L"COPY", true, value) && !seenCopy) {
            copyPath = value;
            seenCopy = true;
        } else if (MatchSwitch(argument, L"AUTORUN", true, value) && !seenAutoRun) {
            autorunPath = value;
            seenAutoRun = true;
        } else if (MatchSwitch(argument, L"SHA1", true, value) && !seenSha1) {
            sha1Text = value;
            seenSha1 = true;
        } else {
            problem = L"unknown or repeated argument: " + argument;
            return false;
        }
    }
    if (!seenAssign || !seenCopy || !seenAutoRun || !seenSha1) {
        problem = L"missing one of -assign, -COPY, -AUTORUN, -SHA1";
        return false;
    }
    if (!IsPlainDrivePath(copyPath) || !IsPlainDrivePath(autorunPath)) {
        problem = L"-COPY and -AUTORUN need absolute paths on a drive: " + copyPath + L" " + autorunPath;
        return false;
    }
    // Drive letters compare as the file system compares them; the autorun.inf lies in the root.
    if (towupper(copyPath[0]) != towupper(autorunPath[0]) || _wcsicmp(autorunPath.c_str() + 2, L"\\autorun.inf") != 0 ||
        _wcsicmp(copyPath.c_str(), autorunPath.c_str()) == 0) {
        problem = L"-AUTORUN is not the autorun.inf in the root of the copy's drive: " + autorunPath;
        return false;
    }
    if (!IsSha1Digits(sha1Text)) {
        problem = L"-SHA1 needs 40 hexadecimal digits: " + sha1Text;
        return false;
    }
    for (wchar_t c : sha1Text) sha1.push_back(static_cast<char>(towupper(c)));
    command = Command::DriveCopy;
    return true;
}

bool MendrelCommandLine::Parse(const wchar_t* commandLine, std::wstring& problem) {
    ArgumentList arguments(commandLine ? commandLine : L"");
    std::wstring switchValue;
    // The quarantine commands stand alone.
    if (arguments.Count() == 2 && MatchSwitch(arguments[1], L"list", false, switchValue)) {
        command = Command::List;
        return true;
    }
    if (arguments.Count() == 2 && MatchSwitch(arguments[1], L"autorun", true, switchValue)) {
        if (switchValue != L"off") {
            problem = L"-autorun only turns AutoRun off: " + switchValue;
            return false;
        }
        command = Command::AutoRunOff;
        return true;
    }
    if (arguments.Count() == 2 && MatchSwitch(arguments[1], L"restore", true, switchValue)) {
        if (switchValue.size() != 40 || switchValue.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) {
            problem = L"-restore needs the 40 hexadecimal digits of a SHA-1: " + switchValue;
            return false;
        }
        command = Command::Restore;
        for (wchar_t c : switchValue) sha1.push_back(static_cast<char>(towupper(c)));
        return true;
    }
    // A drive copy's line is told by its -COPY switch, a task's by its -TASK switch.
    std::vector<std::wstring> all;
    bool driveCopy = false;
    for (int index = 0; index < arguments.Count(); ++index) {
        std::wstring ignored;
        all.push_back(arguments[index]);
        if (index > 0 && MatchSwitch(all.back(), L"COPY", true, ignored)) driveCopy = true;
    }
    if (driveCopy) return ParseDriveCopy(all, problem);
    for (int index = 1; index < arguments.Count(); ++index)
        if (MatchSwitch(arguments[index], L"TASK", true, switchValue)) return ParseTaskLine(arguments, *this, problem);
    bool seenAssign = false, seenGc = false, seenName = false, seenPath = false;
    for (int index = 1; index < arguments.Count(); ++index) {
        std::wstring argument = arguments[index];
        std::wstring value;
        if (MatchSwitch(argument, L"assign", true, value)) {
            if (seenAssign || value != kWormName) {
                problem = L"unknown or repeated -assign: " + argument;
                return false;
            }
            seenAssign = true;
        } else if (MatchSwitch(argument, L"GCNAME", true, value)) {
            if (seenName || value != kWormName) {
                problem = L"unknown or repeated -GCNAME: " + argument;
                return false;
            }
            seenName = true;
        } else if (MatchSwitch(argument, L"GCPATH", true, value)) {
            if (seenPath || !IsAbsoluteFilePath(value)) {
                problem = L"-GCPATH is repeated or not an absolute file path: " + argument;
                return false;
            }
            dllPath = value;
            seenPath = true;
        } else if (MatchSwitch(argument, L"GC", false, value)) {
            if (seenGc) {
                problem = L"repeated -GC";
                return false;
            }
            seenGc = true;
        } else {
            problem = L"unknown argument: " + argument;
            return false;
        }
    }
    if (!seenAssign || !seenGc || !seenName || !seenPath) {
        problem = L"missing one of -assign, -GC, -GCNAME, -GCPATH";
        return false;
    }
    return true;
}
