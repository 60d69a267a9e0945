#include "grimlet/plugin/DriveCopyExaminer.h"

#include <windows.h>

#include <algorithm>

#include "grimlet/common/AutoRunInf.h"
#include "grimlet/common/CheckFileSigner.h"
#include "grimlet/pe/PeHeaders.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"
#include "platform/security/ProtectedDataFolder.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletDrives";

namespace {

constexpr uint16_t kImageFileDll = 0x2000;
constexpr uint32_t kSecurityDirectory = 4;
constexpr std::size_t kHeaderBytes = 64u << 10;  // far more than any PE header

// One file of the drive, opened once, level by level from the drive's root without following a link: a
// folder of the stick made a junction to the system drive cannot hand over a system file.
struct PlainFile {
    enum class State { Absent, Open, Refused };
    State state = State::Absent;
    KernelHandle handle;
    BY_HANDLE_FILE_INFORMATION information = {};
    std::wstring why;  // Refused: for the report

    bool HiddenAndSystem() const {
        const DWORD both = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        return (information.dwFileAttributes & both) == both;
    }
    uint64_t Size() const {
        return (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    }
    uint64_t Index() const {
        return (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    }
};

// The drive's root folder; NoMedium for an empty card reader or floppy drive, which holds nothing to check.
enum class RootState { Open, NoMedium, Failed };
RootState OpenRoot(const std::wstring& root, KernelHandle& folder, DWORD& serial, std::wstring& why) {
    folder.Attach(CreateFileW(root.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!folder.IsValid() || !GetFileInformationByHandle(folder.Get(), &information)) {
        const DWORD error = GetLastError();
        if (error == ERROR_NOT_READY || error == ERROR_NO_MEDIA_IN_DRIVE) return RootState::NoMedium;
        why = L"its root could not be opened (error " + std::to_wstring(error) + L")";
        return RootState::Failed;
    }
    serial = information.dwVolumeSerialNumber;
    return RootState::Open;
}

PlainFile OpenPlainFile(HANDLE root, const std::wstring& relative, DWORD volumeSerial) {
    PlainFile file;
    DWORD error = ERROR_SUCCESS;
    file.handle = ProtectedDataFolder::OpenFileBeneath(root, relative, error);
    if (!file.handle.IsValid()) {
        // A folder of the name (a stick "vaccinated" with an AUTORUN.INF folder) is no file either.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_DIRECTORY)
            return file;
        file.state = PlainFile::State::Refused;
        file.why = error == ERROR_CANT_ACCESS_FILE ? L"is a link or lies behind one, not a file of the drive"
                                                   : L"could not be opened (error " + std::to_wstring(error) + L")";
        return file;
    }
    if (!GetFileInformationByHandle(file.handle.Get(), &file.information)) {
        file.state = PlainFile::State::Refused;
        file.why = L"could not be examined (error " + std::to_wstring(GetLastError()) + L")";
        return file;
    }
    if (file.information.dwVolumeSerialNumber != volumeSerial) {
        file.state = PlainFile::State::Refused;
        file.why = L"lies on another volume than its drive";
        return file;
    }
    file.state = PlainFile::State::Open;
    return file;
}

// The file through its handle, hashed in blocks; `head` keeps its first bytes. False when it is larger
// than `limit` or a read fails, with the reason.
bool ReadAndHash(PlainFile& file, uint64_t limit, std::size_t headBytes, std::vector<uint8_t>& head, std::string* sha1,
                 std::wstring& why) {
    if (file.Size() > limit) {
        why = L"is larger than " + std::to_wstring(limit >> 10) + L" KiB, not read";
        return false;
    }
    FileDigest digest(false, true);
    std::vector<uint8_t> block(256u << 10);
    head.clear();
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.handle.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) {
            why = L"could not be read (error " + std::to_wstring(GetLastError()) + L")";
            return false;
        }
        if (got == 0) break;
        if (head.size() < headBytes)
            head.insert(head.end(), block.begin(), block.begin() + std::min<std::size_t>(got, headBytes - head.size()));
        digest.Update(block.data(), got);
    }
    if (sha1) *sha1 = digest.FinishSha1Hex();
    return true;
}

Fact IsPeDll(const std::vector<uint8_t>& bytes, bool& carriesSignature) {
    PeMemorySource source(bytes.data(), bytes.size());
    PeReadWindow window(source);
    PeHeaders headers;
    carriesSignature = false;
    if (!PeHeaders::Parse(window, headers)) return Fact::No;
    carriesSignature = headers.directories[kSecurityDirectory].size != 0;
    return (headers.characteristics & kImageFileDll) ? Fact::Yes : Fact::No;
}

// Whether a catalog vouches for the file: only "no catalog lists it" counts as no.
Fact CatalogSigned(const std::wstring& path) {
    const uint32_t result = VerifyCatalogTrust(path);
    if (result == 0) return Fact::Yes;
    return result == kCatalogFileNotListed ? Fact::No : Fact::Unknown;
}

// Reasons of Rundll32Target that are not about this drive: another drive's file, a share, or no rundll32.
bool ElsewhereOrNoRundll32(const std::string& problem) {
    return problem == "the command does not start rundll32" || problem == "the DLL lies on another drive" ||
           problem == "the DLL lies on a share";
}

std::wstring Widen(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

std::vector<DriveToExamine> DriveCopyExaminer::Drives() {
    std::vector<DriveToExamine> drives;
    const DWORD present = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(present & (1u << i))) continue;
        DriveToExamine drive;
        drive.letter = static_cast<wchar_t>(L'A' + i);
        const UINT type = GetDriveTypeW(drive.Root().c_str());
        if (type != DRIVE_REMOVABLE && type != DRIVE_REMOTE) continue;
        drive.kind = type == DRIVE_REMOVABLE ? CopyDrive::Removable : CopyDrive::Remote;
        drives.push_back(drive);
    }
    return drives;
}

DriveExamination DriveCopyExaminer::Examine(const DriveToExamine& drive, const std::vector<std::string>& provenSha1) {
    DriveExamination examination;
    const std::wstring infPath = drive.Root() + L"autorun.inf";
    KernelHandle root;
    DWORD volume = 0;
    std::wstring why;
    const RootState rootState = OpenRoot(drive.Root(), root, volume, why);
    if (rootState != RootState::Open) {
        if (rootState == RootState::Failed) examination.unchecked.emplace_back(L"drive " + drive.Root(), why);
        return examination;
    }
    PlainFile inf = OpenPlainFile(root.Get(), L"autorun.inf", volume);
    if (inf.state == PlainFile::State::Absent) return examination;
    std::vector<uint8_t> infBytes;
    why = inf.why;
    AutoRunInf::Contents contents;
    std::string problem;
    if (inf.state == PlainFile::State::Refused ||
        !ReadAndHash(inf, AutoRunInf::kMaxBytes + 1, AutoRunInf::kMaxBytes + 1, infBytes, nullptr, why)) {
        examination.unchecked.emplace_back(L"file " + infPath, why);
        return examination;
    }
    if (!AutoRunInf::Parse(infBytes, contents, problem)) {
        examination.unchecked.emplace_back(L"file " + infPath, std::wstring(problem.begin(), problem.end()));
        return examination;
    }
    std::vector<uint64_t> seen;  // the copies already judged, by file index: an 8.3 alias is the same file
    for (const AutoRunInf::Action& action : contents.actions) {
        std::u16string relative;
        if (!AutoRunInf::Rundll32Target(action.command, static_cast<char16_t>(drive.letter), relative, problem)) {
            TW_LOG(LogLevel::Detail, "%S action %S passed over: %s", infPath.c_str(), Widen(action.key).c_str(),
                   problem.c_str());
            // A file of this drive that rundll32 would start but that cannot be named safely is not
            // called clean: the worm may have chosen the odd name for that.
            if (!ElsewhereOrNoRundll32(problem))
                examination.unchecked.emplace_back(L"file " + infPath,
                                                   L"its " + Widen(action.key) + L" action: " +
                                                       std::wstring(problem.begin(), problem.end()));
            continue;
        }
        const std::wstring copyPath = drive.Root() + Widen(relative);
        PlainFile copy = OpenPlainFile(root.Get(), Widen(relative), volume);
        if (copy.state == PlainFile::State::Absent) {
            TW_LOG(LogLevel::Detail, "%S starts %S, which is not there", infPath.c_str(), copyPath.c_str());
            continue;
        }
        if (copy.state == PlainFile::State::Open) {
            if (std::find(seen.begin(), seen.end(), copy.Index()) != seen.end()) continue;
            seen.push_back(copy.Index());
        }
        std::vector<uint8_t> head;
        WormCopyFacts facts;
        facts.drive = drive.kind;
        why = copy.why;
        if (copy.state == PlainFile::State::Refused ||
            !ReadAndHash(copy, kMaxCopyBytes, kHeaderBytes, head, &facts.sha1, why)) {
            examination.unchecked.emplace_back(L"file " + copyPath, why);
            continue;
        }
        bool carriesSignature = false;
        facts.peDll = IsPeDll(head, carriesSignature);
        facts.fileHiddenSystem = copy.HiddenAndSystem() ? Fact::Yes : Fact::No;
        facts.infHiddenSystem = inf.HiddenAndSystem() ? Fact::Yes : Fact::No;
        // A signature that does not verify is still no evidence for the worm: only a file that carries
        // none, and that no catalog lists, counts as unsigned. The catalog is asked only where the answer
        // can matter.
        if (carriesSignature)
            facts.trustedSigned = Fact::Yes;
        else if (drive.kind == CopyDrive::Removable && facts.peDll == Fact::Yes && facts.fileHiddenSystem == Fact::Yes &&
                 facts.infHiddenSystem == Fact::Yes)
            facts.trustedSigned = CatalogSigned(copyPath);
        DriveCopyFound found;
        found.verdict = DecideWormCopy(facts, provenSha1);
        if (found.verdict == WormCopyVerdict::NotWorm) {
            TW_LOG(LogLevel::Detail, "%S started by %S is not the worm's", copyPath.c_str(), infPath.c_str());
            continue;
        }
        found.copyPath = copyPath;
        found.infPath = infPath;
        found.sha1 = facts.sha1;
        examination.copies.push_back(found);
    }
    return examination;
}
