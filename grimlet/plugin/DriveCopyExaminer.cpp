#include "grimlet/plugin/DriveCopyExaminer.h"

#include <windows.h>

#include <algorithm>

#include "grimlet/common/AutoRunInf.h"
#include "grimlet/common/CheckFileSigner.h"
#include "grimlet/pe/PeHeaders.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"GrimletDrives";

namespace {

constexpr uint16_t kImageFileDll = 0x2000;
constexpr uint32_t kSecurityDirectory = 4;

// One file of the drive, opened once: a link or a folder is never opened as the file.
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
};

// The volume of the drive's root: a file of the drive that lies on another volume was reached through a
// link on the way (a folder of the stick made a junction to the system drive) and is not the drive's.
enum class Root { Open, NoMedium, Failed };
Root RootVolume(const std::wstring& root, DWORD& serial, std::wstring& why) {
    KernelHandle folder(CreateFileW(root.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!folder.IsValid() || !GetFileInformationByHandle(folder.Get(), &information)) {
        const DWORD error = GetLastError();
        // An empty card reader or floppy drive holds nothing to check.
        if (error == ERROR_NOT_READY || error == ERROR_NO_MEDIA_IN_DRIVE) return Root::NoMedium;
        why = L"its root could not be opened (error " + std::to_wstring(error) + L")";
        return Root::Failed;
    }
    serial = information.dwVolumeSerialNumber;
    return Root::Open;
}

PlainFile OpenPlainFile(const std::wstring& path, DWORD volumeSerial) {
    PlainFile file;
    file.handle.Attach(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.handle.IsValid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return file;
        file.state = PlainFile::State::Refused;
        file.why = L"could not be opened (error " + std::to_wstring(error) + L")";
        return file;
    }
    if (!GetFileInformationByHandle(file.handle.Get(), &file.information)) {
        file.state = PlainFile::State::Refused;
        file.why = L"could not be examined (error " + std::to_wstring(GetLastError()) + L")";
        return file;
    }
    if (file.information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        file.state = PlainFile::State::Refused;
        file.why = L"is a folder or a link, not a file";
        return file;
    }
    if (file.information.dwVolumeSerialNumber != volumeSerial) {
        file.state = PlainFile::State::Refused;
        file.why = L"lies on another volume than its drive (reached through a link)";
        return file;
    }
    file.state = PlainFile::State::Open;
    return file;
}

// The whole file through its handle, hashed on the way; false when it is larger than `limit` or a read
// fails, with the reason.
bool ReadWhole(PlainFile& file, uint64_t limit, std::vector<uint8_t>& bytes, std::string* sha1, std::wstring& why) {
    if (file.Size() > limit) {
        why = L"is larger than " + std::to_wstring(limit >> 10) + L" KiB, not read";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(file.Size()));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!ReadFile(file.handle.Get(), bytes.data() + done, want, &got, nullptr)) {
            why = L"could not be read (error " + std::to_wstring(GetLastError()) + L")";
            return false;
        }
        if (got == 0) break;  // shorter than it said: hash what is there, it is what a loader would see
        done += got;
    }
    bytes.resize(done);
    if (sha1) {
        FileDigest digest(false, true);
        digest.Update(bytes.data(), bytes.size());
        *sha1 = digest.FinishSha1Hex();
    }
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
    DWORD volume = 0;
    std::wstring rootWhy;
    const Root root = RootVolume(drive.Root(), volume, rootWhy);
    if (root != Root::Open) {
        if (root == Root::Failed) examination.unchecked.emplace_back(L"drive " + drive.Root(), rootWhy);
        return examination;
    }
    PlainFile inf = OpenPlainFile(infPath, volume);
    if (inf.state == PlainFile::State::Absent) return examination;
    std::vector<uint8_t> infBytes;
    std::wstring why = inf.why;
    AutoRunInf::Contents contents;
    std::string problem;
    if (inf.state == PlainFile::State::Refused ||
        !ReadWhole(inf, AutoRunInf::kMaxBytes + 1, infBytes, nullptr, why)) {
        examination.unchecked.emplace_back(L"file " + infPath, why);
        return examination;
    }
    if (!AutoRunInf::Parse(infBytes, contents, problem)) {
        examination.unchecked.emplace_back(L"file " + infPath, std::wstring(problem.begin(), problem.end()));
        return examination;
    }
    std::vector<std::u16string> seen;
    for (const AutoRunInf::Action& action : contents.actions) {
        std::u16string relative;
        if (!AutoRunInf::Rundll32Target(action.command, static_cast<char16_t>(drive.letter), relative, problem)) {
            TW_LOG(LogLevel::Detail, "%S action %S passed over: %s", infPath.c_str(), Widen(action.key).c_str(),
                   problem.c_str());
            continue;
        }
        std::u16string folded = relative;
        std::transform(folded.begin(), folded.end(), folded.begin(),
                       [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; });
        if (std::find(seen.begin(), seen.end(), folded) != seen.end()) continue;
        seen.push_back(folded);

        const std::wstring copyPath = drive.Root() + Widen(relative);
        PlainFile copy = OpenPlainFile(copyPath, volume);
        if (copy.state == PlainFile::State::Absent) {
            TW_LOG(LogLevel::Detail, "%S starts %S, which is not there", infPath.c_str(), copyPath.c_str());
            continue;
        }
        std::vector<uint8_t> bytes;
        WormCopyFacts facts;
        facts.drive = drive.kind;
        why = copy.why;
        if (copy.state == PlainFile::State::Refused || !ReadWhole(copy, kMaxCopyBytes, bytes, &facts.sha1, why)) {
            examination.unchecked.emplace_back(L"file " + copyPath, why);
            continue;
        }
        bool carriesSignature = false;
        facts.peDll = IsPeDll(bytes, carriesSignature);
        facts.fileHiddenSystem = copy.HiddenAndSystem() ? Fact::Yes : Fact::No;
        facts.infHiddenSystem = inf.HiddenAndSystem() ? Fact::Yes : Fact::No;
        // A signature that does not verify is still no evidence for the worm: only a file that carries
        // none, and no catalog vouches for, counts as unsigned. The catalog is asked only where the
        // answer can matter.
        if (carriesSignature)
            facts.trustedSigned = Fact::Yes;
        else if (drive.kind == CopyDrive::Removable && facts.peDll == Fact::Yes && facts.fileHiddenSystem == Fact::Yes &&
                 facts.infHiddenSystem == Fact::Yes)
            facts.trustedSigned = VerifyCatalogSignature(copyPath) == 0 ? Fact::Yes : Fact::No;
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
