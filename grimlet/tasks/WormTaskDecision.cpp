#include "grimlet/tasks/WormTaskDecision.h"

#include <cwctype>

namespace {

std::wstring Folded(const std::wstring& text) {
    std::wstring folded(text);
    for (wchar_t& c : folded) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return folded;
}

std::wstring Trimmed(const std::wstring& text) {
    const std::size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

bool IsAbsolute(const std::wstring& path) {
    return (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') || path.rfind(L"\\\\", 0) == 0;
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

// A program named "rundll32" may be written with its quotes and without its extension.
std::wstring Unquoted(const std::wstring& text) {
    std::wstring trimmed = Trimmed(text);
    if (trimmed.size() >= 2 && trimmed.front() == L'"' && trimmed.back() == L'"') return trimmed.substr(1, trimmed.size() - 2);
    return trimmed;
}

}  // namespace

bool WormTaskDecision::Rundll32Target(const std::wstring& parameters, std::wstring& dll) {
    dll.clear();
    const std::wstring line = Trimmed(parameters);
    if (line.empty()) return false;
    if (line.front() == L'"') {
        const std::size_t close = line.find(L'"', 1);
        if (close == std::wstring::npos || close == 1) return false;
        const std::size_t after = close + 1;
        if (after < line.size() && line[after] != L',' && line[after] != L' ' && line[after] != L'\t') return false;
        dll = line.substr(1, close - 1);
        return true;
    }
    const std::wstring name = Trimmed(line.substr(0, line.find(L',')));
    if (name.empty() || name.find_first_of(L" \t\"") != std::wstring::npos) return false;
    dll = name;
    return true;
}

bool WormTaskDecision::IsRundll32(const std::wstring& program) const {
    const std::wstring name = Folded(Unquoted(program));
    if (name == L"rundll32" || name == L"rundll32.exe") return true;
    for (const std::wstring& folder : folders_.systemFolders) {
        const std::wstring inFolder = Folded(Joined(folder, L"rundll32"));
        if (name == inFolder || name == inFolder + L".exe") return true;
    }
    return false;
}

bool WormTaskDecision::IsWormFile(const TaskFileIdentity& identity) const {
    for (const ProvenWormDll& worm : wormDlls_) {
        const bool sameFile = worm.identity.fileIndex != 0 && worm.identity.volumeSerial == identity.volumeSerial &&
                              worm.identity.fileIndex == identity.fileIndex;
        const bool sameBytes = !worm.identity.sha1.empty() && worm.identity.sha1 == identity.sha1;
        if (sameFile || sameBytes) return true;
    }
    return false;
}

WormTaskVerdict WormTaskDecision::JudgeDll(const std::wstring& dllName, const std::wstring& workingDirectory) const {
    WormTaskVerdict verdict;
    std::wstring dll = dllName;
    // The loader adds ".dll" to a name without an extension.
    const std::size_t lastPart = dll.find_last_of(L'\\');
    if (dll.find(L'.', lastPart == std::wstring::npos ? 0 : lastPart) == std::wstring::npos) dll += L".dll";

    std::vector<std::wstring> candidates;
    if (IsAbsolute(dll)) {
        candidates.push_back(dll);
    } else if (dll.find_first_of(L"\\/:") == std::wstring::npos) {
        // The loader's order for a bare name: rundll32's folder, the system folders, the Windows folder,
        // then the working directory the task starts in.
        candidates = folders_.systemFolders;
        candidates.push_back(folders_.windowsFolder);
        if (!workingDirectory.empty()) candidates.push_back(workingDirectory);
        for (std::wstring& folder : candidates) folder = Joined(folder, dll);
    } else {
        verdict.kind = WormTaskVerdict::Kind::Unchecked;
        verdict.reason = "the DLL is named by a relative path";
        return verdict;
    }
    for (const std::wstring& path : candidates) {
        if (path.size() <= dll.size() && !IsAbsolute(path)) continue;  // no folder to search
        TaskFileIdentity identity;
        switch (lookup_.Identify(path, identity)) {
        case ITaskFileLookup::Result::Absent:
            continue;
        case ITaskFileLookup::Result::Unreadable:
            verdict.kind = WormTaskVerdict::Kind::Unchecked;
            verdict.dllPath = path;
            verdict.reason = "the DLL cannot be read";
            return verdict;
        case ITaskFileLookup::Result::Found:
            verdict.dllPath = path;
            verdict.kind = IsWormFile(identity) ? WormTaskVerdict::Kind::Worm : WormTaskVerdict::Kind::NotWorm;
            verdict.reason = IsWormFile(identity) ? "it runs a worm DLL of this scan" : "its DLL is no worm DLL of this scan";
            return verdict;
        }
    }
    verdict.reason = "its DLL is not there";
    return verdict;
}

WormTaskVerdict WormTaskDecision::Judge(const TaskCommand& command) const {
    if (IsRundll32(command.program)) {
        std::wstring dll;
        if (!Rundll32Target(command.parameters, dll)) {
            WormTaskVerdict verdict;
            verdict.reason = "rundll32 is given no one DLL";
            return verdict;
        }
        return JudgeDll(dll, command.workingDirectory);
    }
    // A task may also name the worm's DLL as its program, under any extension.
    const std::wstring program = Unquoted(command.program);
    if (program.empty()) {
        WormTaskVerdict verdict;
        verdict.reason = "it names no program";
        return verdict;
    }
    return JudgeDll(program, command.workingDirectory);
}
