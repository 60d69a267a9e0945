#include "platform/system/PatchStatus.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "platform/system/FileSystemRedirectionGuard.h"

namespace {

constexpr uint32_t kNt = 2;  // VER_PLATFORM_WIN32_NT
constexpr uint16_t kHotfixBranch = 20000;  // Vista's hotfix builds number their revisions from here

struct Row {
    uint32_t major, minor;
    uint16_t servicePack;  // the bulletin's row; for Vista and Server 2008 the build instead
    FileVersionNumber fixed;
    FileVersionNumber fixedHotfix;  // Vista and Server 2008 only; zero elsewhere
};

// The public bulletin's file versions of netapi32.dll that carry the fix.
const Row kRows[] = {
    {5, 0, 4, {5, 0, 2195, 7203}, {}},
    {5, 1, 2, {5, 1, 2600, 3462}, {}},
    {5, 1, 3, {5, 1, 2600, 5694}, {}},
    {5, 2, 1, {5, 2, 3790, 3229}, {}},
    {5, 2, 2, {5, 2, 3790, 4392}, {}},
    {6, 0, 6000, {6, 0, 6000, 16764}, {6, 0, 6000, 20937}},
    {6, 0, 6001, {6, 0, 6001, 18157}, {6, 0, 6001, 22288}},
};

// The earliest service pack (or, for Vista, build) that the bulletin has a fix for.
uint16_t EarliestCovered(uint32_t major, uint32_t minor) {
    uint16_t earliest = 0xFFFF;
    for (const Row& row : kRows)
        if (row.major == major && row.minor == minor && row.servicePack < earliest) earliest = row.servicePack;
    return earliest;
}

// The numeric file version of the version resource, read from the file mapped as data only. Not
// through GetFileVersionInfo: Wine answers that for a system DLL's name from its own built-in module,
// not from the file at the path.
bool ReadFileVersion(const std::wstring& path, FileVersionNumber& version) {
    HMODULE file = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!file) return false;
    bool found = false;
    HRSRC resource = FindResourceW(file, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));  // RT_VERSION
    HGLOBAL loaded = resource ? LoadResource(file, resource) : nullptr;
    const auto* block = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = resource ? SizeofResource(file, resource) : 0;
    // The fixed block follows the header and its key, 32-bit aligned; its signature marks it.
    for (DWORD at = 0; block && at + sizeof(VS_FIXEDFILEINFO) <= size && at < 256; at += 4) {
        VS_FIXEDFILEINFO fixed;
        memcpy(&fixed, block + at, sizeof fixed);
        if (fixed.dwSignature != VS_FFI_SIGNATURE) continue;
        version.major = HIWORD(fixed.dwFileVersionMS);
        version.minor = LOWORD(fixed.dwFileVersionMS);
        version.build = HIWORD(fixed.dwFileVersionLS);
        version.revision = LOWORD(fixed.dwFileVersionLS);
        found = true;
        break;
    }
    FreeLibrary(file);
    return found;
}

PatchVerdict Verdict(PatchState state, const FileVersionNumber* file, std::wstring reason) {
    PatchVerdict verdict;
    verdict.state = state;
    verdict.fileRead = file != nullptr;
    if (file) verdict.fileVersion = *file;
    verdict.reason = std::move(reason);
    return verdict;
}

}  // namespace

bool FileVersionNumber::operator<(const FileVersionNumber& o) const {
    if (major != o.major) return major < o.major;
    if (minor != o.minor) return minor < o.minor;
    if (build != o.build) return build < o.build;
    return revision < o.revision;
}

std::wstring FileVersionNumber::Text() const {
    wchar_t text[32];
    swprintf(text, 32, L"%u.%u.%u.%u", major, minor, build, revision);
    return text;
}

PatchVerdict DecideKb958644(const OsVersionFacts& os, const FileVersionNumber* netapi32) {
    if (os.platformId != kNt || os.majorVersion < 5)
        return Verdict(PatchState::Unknown, netapi32, L"the bulletin does not cover this system");
    if (os.majorVersion > 6 || (os.majorVersion == 6 && os.minorVersion >= 1))
        return Verdict(PatchState::NotAffected, netapi32, L"Windows 7 and later do not have the hole");
    const bool vista = os.majorVersion == 6;
    // Vista and Server 2008 are told apart by build: SP2 (6002) and later come with the fix.
    const uint16_t key = static_cast<uint16_t>(vista ? os.buildNumber : os.servicePackMajor);
    if (vista && os.buildNumber >= 6002)
        return Verdict(PatchState::Installed, netapi32, L"Service Pack 2 of Vista and Server 2008 includes the fix");
    const Row* row = nullptr;
    for (const Row& candidate : kRows)
        if (candidate.major == os.majorVersion && candidate.minor == os.minorVersion && candidate.servicePack == key)
            row = &candidate;
    if (!row) {
        const uint16_t earliest = EarliestCovered(os.majorVersion, os.minorVersion);
        if (earliest != 0xFFFF && key < earliest)
            return Verdict(PatchState::Missing, netapi32,
                           vista ? L"this build is older than any the fix was made for: install Service Pack 2"
                                 : L"this service pack cannot take the fix: install Service Pack " +
                                       std::to_wstring(earliest) + L" or later, then the fix");
        return Verdict(PatchState::Unknown, netapi32, L"the bulletin does not list this service pack");
    }
    if (!netapi32) return Verdict(PatchState::Unknown, nullptr, L"netapi32.dll cannot be read");
    const FileVersionNumber& fixed =
        vista && netapi32->revision >= kHotfixBranch ? row->fixedHotfix : row->fixed;
    if (*netapi32 < fixed) return Verdict(PatchState::Missing, netapi32, L"the fix brings " + fixed.Text());
    return Verdict(PatchState::Installed, netapi32, L"the fix brings " + fixed.Text());
}

PatchVerdict ReadKb958644Status() {
    OsVersionFacts os;
    if (!ReadOsVersionFacts(os)) return Verdict(PatchState::Unknown, nullptr, L"the system's version cannot be read");
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return DecideKb958644(os, nullptr);
    // System32 as the Server service sees it: the native one, also from a 32-bit process on 64-bit
    // Windows (XP x64 has no Sysnative name for it).
    const std::wstring path = std::wstring(windows) + L"\\System32\\netapi32.dll";
    FileVersionNumber version;
    bool read = false;
    {
        FileSystemRedirectionGuard nativeView;
        read = ReadFileVersion(path, version);
    }
    return DecideKb958644(os, read ? &version : nullptr);
}

const wchar_t* PatchStateWord(PatchState state) {
    switch (state) {
        case PatchState::Installed: return L"installed";
        case PatchState::Missing: return L"missing";
        case PatchState::NotAffected: return L"not affected";
        case PatchState::Unknown: return L"unknown";
    }
    return L"unknown";
}

const wchar_t* PatchStatusLine(PatchState state) {
    switch (state) {
        case PatchState::Installed: return L"本机已安装KB958644补丁。";
        case PatchState::Missing: return L"本机尚未安装KB958644补丁，请尽快安装。";
        case PatchState::NotAffected: return L"本系统不受MS08-067漏洞影响。";
        case PatchState::Unknown: return L"无法确定本机是否已安装KB958644补丁。";
    }
    return L"无法确定本机是否已安装KB958644补丁。";
}
