#include "grimlet/mendrel/DriveCopyRemoval.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "grimlet/common/AutoRunInf.h"
#include "grimlet/mendrel/FileRemover.h"
#include "grimlet/mendrel/MendrelCommandLine.h"
#include "grimlet/mendrel/MendrelExitCode.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"
#include "platform/security/ProtectedDataFolder.h"
#include "platform/system/DeviceProfile.h"
#include "platform/system/OrdinalName.h"
#include "platform/system/UtcTime.h"
#include "platform/system/Utf8.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const char kDescriptorHeader[] = "Tidewash drive copy";
const wchar_t kDescriptorSuffix[] = L".drive";
constexpr uint64_t kMaxDescriptorBytes = 4096;
constexpr DWORD kClearedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
// What SetFileAttributesW takes back; the others (compressed, encrypted, sparse...) are not the file's to set.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_TEMPORARY;
constexpr LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022L);
constexpr LONG kStatusMediaWriteProtected = static_cast<LONG>(0xC00000A2L);

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Sha1OfBytes(const std::string& bytes) {
    FileDigest digest(false, true);
    digest.Update(bytes.data(), bytes.size());
    return digest.FinishSha1Hex();
}

std::string Hex8(DWORD value) {
    char text[16];
    snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(value));
    return text;
}

bool IsCopyDrive(const std::wstring& drive) {
    const UINT type = GetDriveTypeW((drive + L"\\").c_str());
    return type == DRIVE_REMOVABLE || type == DRIVE_REMOTE;
}

// "X:\autorun.inf" in the root of the copy's drive, both plain paths.
bool ArePairedPaths(const std::wstring& copyPath, const std::wstring& autorunPath) {
    return MendrelCommandLine::IsPlainDrivePath(copyPath) && MendrelCommandLine::IsPlainDrivePath(autorunPath) &&
           EqualIgnoringCase(copyPath.substr(0, 2), autorunPath.substr(0, 2)) &&
           EqualIgnoringCase(autorunPath.substr(2), L"\\autorun.inf") && !EqualIgnoringCase(copyPath, autorunPath);
}

// One of the two files as the removal found it, and as its descriptor keeps it.
struct FileRecord {
    std::wstring path;
    std::string sha1;
    uint64_t size = 0;
    DWORD attributes = 0;
};

struct Descriptor {
    DWORD volumeSerial = 0;
    FileRecord copy, autorun;
    std::wstring removedAt;
};

std::string DescriptorText(const Descriptor& saved) {
    auto fileLine = [](const char* role, const FileRecord& file) {
        return std::string(role) + "\t" + Utf8FromWide(file.path) + "\t" + file.sha1 + "\t" + std::to_string(file.size) +
               "\t" + Hex8(file.attributes) + "\r\n";
    };
    // The process and the moment make each removal's descriptor, and so its id, its own: the same copy
    // taken again after a restore is another entry.
    return std::string(kDescriptorHeader) + "\r\nvolume\t" + Hex8(saved.volumeSerial) + "\r\n" +
           fileLine("copy", saved.copy) + fileLine("autorun", saved.autorun) + "removed\t" +
           Utf8FromWide(saved.removedAt) + "\t" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount()) + "\r\n";
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + separator.size();
    }
}

bool IsHex(const std::string& text, std::size_t length) {
    return text.size() == length && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

bool ParseFileLine(const std::string& line, const char* role, FileRecord& file) {
    const std::vector<std::string> columns = Split(line, "\t");
    if (columns.size() != 5 || columns[0] != role || !IsHex(columns[2], 40) || !IsHex(columns[4], 8) ||
        columns[3].empty() || columns[3].find_first_not_of("0123456789") != std::string::npos ||
        columns[3].size() > 19)
        return false;
    file.path = WideFromUtf8(columns[1]);
    file.sha1 = columns[2];
    file.size = strtoull(columns[3].c_str(), nullptr, 10);
    file.attributes = static_cast<DWORD>(strtoul(columns[4].c_str(), nullptr, 16));
    return true;
}

bool ParseDescriptor(const std::string& bytes, Descriptor& saved) {
    const std::vector<std::string> lines = Split(bytes, "\r\n");
    if (lines.size() != 6 || lines[0] != kDescriptorHeader || !lines[5].empty()) return false;
    const std::vector<std::string> volume = Split(lines[1], "\t");
    const std::vector<std::string> removed = Split(lines[4], "\t");
    if (volume.size() != 2 || volume[0] != "volume" || !IsHex(volume[1], 8) || removed.size() != 3 ||
        removed[0] != "removed")
        return false;
    saved.volumeSerial = static_cast<DWORD>(strtoul(volume[1].c_str(), nullptr, 16));
    saved.removedAt = WideFromUtf8(removed[1]);
    return ParseFileLine(lines[2], "copy", saved.copy) && ParseFileLine(lines[3], "autorun", saved.autorun) &&
           ArePairedPaths(saved.copy.path, saved.autorun.path);
}

// One of the two files, held from the first check to its deletion: others may read it, nobody may
// write, rename or delete it meanwhile. A link (reparse point) is opened as itself, never followed.
struct HeldFile {
    std::wstring path;
    KernelHandle handle;
    BY_HANDLE_FILE_INFORMATION information = {};

    DWORD Open(const std::wstring& at) {
        path = at;
        // Level by level from the drive's root, never through a link: a folder of the stick made a
        // junction cannot lead the path onto the system drive, whatever serial the stick claims.
        KernelHandle root(CreateFileW(at.substr(0, 3).c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!root.IsValid()) return GetLastError();
        DWORD error = ERROR_SUCCESS;
        handle = ProtectedDataFolder::OpenFileBeneath(root.Get(), at.substr(3), error,
                                                      GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES);
        if (!handle.IsValid()) return error;
        if (!GetFileInformationByHandle(handle.Get(), &information)) return GetLastError();
        return ERROR_SUCCESS;
    }
    DWORD Attributes() const { return information.dwFileAttributes; }
    bool Rewind() const {
        LARGE_INTEGER start = {};
        return SetFilePointerEx(handle.Get(), start, nullptr, FILE_BEGIN) != FALSE;
    }
    // The whole file, from its start, up to `limit` bytes; false when it cannot be read or is larger.
    bool ReadAll(std::size_t limit, std::string& bytes) const {
        bytes.clear();
        if (!Rewind()) return false;
        std::vector<char> buffer(16 * 1024);
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(handle.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
            if (got == 0) return true;
            if (bytes.size() + got > limit) return false;
            bytes.append(buffer.data(), got);
        }
    }
    bool Sha1(std::string& sha1) const {
        if (!Rewind()) return false;
        FileDigest digest(false, true);
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(handle.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
            if (got == 0) break;
            digest.Update(buffer.data(), got);
        }
        sha1 = digest.FinishSha1Hex();
        return true;
    }
};

// Whether one action of the autorun.inf starts `copyPath` through rundll32.
bool StartsCopy(const std::string& bytes, const std::wstring& copyPath) {
    AutoRunInf::Contents contents;
    std::string problem;
    if (!AutoRunInf::Parse(std::vector<uint8_t>(bytes.begin(), bytes.end()), contents, problem)) {
        TW_LOG(LogLevel::Warning, "The autorun.inf cannot be read: %s", problem.c_str());
        return false;
    }
    const std::wstring root = copyPath.substr(0, 3);
    for (const AutoRunInf::Action& action : contents.actions) {
        std::u16string relative;
        if (!AutoRunInf::Rundll32Target(action.command, static_cast<char16_t>(copyPath[0]), relative, problem)) continue;
        if (EqualIgnoringCase(root + std::wstring(relative.begin(), relative.end()), copyPath)) return true;
    }
    return false;
}

bool HandleVolumeSerial(HANDLE file, DWORD& serial) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file, &information)) return false;
    serial = information.dwVolumeSerialNumber;
    return true;
}

bool DeviceWritable(const std::wstring& drive) { return IsDriveWritable(drive); }

// Clears the attributes that keep a file and marks both files for deletion, which happens when their
// handles close; any refusal takes every step back, so that either both go or nothing changed.
int DeleteBoth(HeldFile& copy, HeldFile& autorun, bool& changed) {
    changed = false;
    HeldFile* files[] = {&copy, &autorun};
    std::vector<HeldFile*> cleared, marked;
    LONG status = 0;
    // The attributes first: a medium that refuses writes refuses this one, before anything is gone.
    for (HeldFile* file : files) {
        if (!(file->Attributes() & kClearedAttributes)) continue;
        status = SetOpenFileAttributes(file->handle.Get(), file->Attributes() & ~kClearedAttributes);
        if (status < 0) break;
        cleared.push_back(file);
    }
    for (HeldFile* file : files) {
        if (status < 0) break;
        status = MarkOpenFileForDeletion(file->handle.Get());
        if (status >= 0) marked.push_back(file);
    }
    if (status < 0) {
        for (HeldFile* file : marked) UnmarkOpenFileForDeletion(file->handle.Get());
        for (HeldFile* file : cleared) SetOpenFileAttributes(file->handle.Get(), file->Attributes());
        TW_LOG(LogLevel::Error, "Deleting %S and %S Status=0x%08X; nothing changed", copy.path.c_str(),
               autorun.path.c_str(), (unsigned)status);
        return status == kStatusMediaWriteProtected || status == kStatusAccessDenied ? MendrelExitCode::ReadOnlyMedium
                                                                                      : MendrelExitCode::PartlyFailed;
    }
    changed = true;
    copy.handle.Close();
    autorun.handle.Close();
    bool gone = true;
    for (HeldFile* file : files) {
        if (GetFileAttributesW(file->path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        TW_LOG(LogLevel::Error, "%S is still there after its deletion", file->path.c_str());
        gone = false;
    }
    return gone ? MendrelExitCode::Removed : MendrelExitCode::PartlyFailed;
}

QuarantineEntry StoredCopyOf(const FileRecord& file) {
    QuarantineEntry stored;
    stored.originalPath = file.path;
    stored.sha1 = file.sha1;
    stored.size = file.size;
    stored.copyName = Widen(file.sha1) + L".bin";
    return stored;
}

}  // namespace

DriveChecks DriveChecks::System() { return DriveChecks{&DeviceWritable, &HandleVolumeSerial}; }

int DriveCopyRemoval::Remove(const std::wstring& copyPath, const std::wstring& autorunPath, const std::string& sha1) {
    TW_LOG_SCOPE("DriveCopyRemoval::Remove()");
    if (!ArePairedPaths(copyPath, autorunPath)) return MendrelExitCode::BadCommandLine;
    const std::wstring drive = copyPath.substr(0, 2);
    if (!IsCopyDrive(drive)) {
        TW_LOG(LogLevel::Warning, "%S is no longer a removable or network drive; nothing changed", drive.c_str());
        return MendrelExitCode::NoLongerProven;
    }
    HeldFile copy, autorun;
    for (HeldFile* file : {&copy, &autorun}) {
        const DWORD error = file->Open(file == &copy ? copyPath : autorunPath);
        if (error == ERROR_SUCCESS) continue;
        TW_LOG(LogLevel::Error, "CreateFileW(%S) for removal Error=%d; nothing changed", file->path.c_str(), (int)error);
        // A folder under the name is refused access too; anything else refused is a drive that will not
        // let the file be changed.
        const DWORD attributes = GetFileAttributesW(file->path.c_str());
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return MendrelExitCode::NoLongerProven;
        if (error == ERROR_CANT_ACCESS_FILE || error == ERROR_DIRECTORY) return MendrelExitCode::NoLongerProven;
        if (error == ERROR_WRITE_PROTECT || error == ERROR_ACCESS_DENIED) return MendrelExitCode::ReadOnlyMedium;
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return MendrelExitCode::NoLongerProven;
        return MendrelExitCode::QuarantineFailed;
    }
    for (HeldFile* file : {&copy, &autorun}) {
        if (file->Attributes() & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
            TW_LOG(LogLevel::Error, "%S is a folder or a link; nothing changed", file->path.c_str());
            return MendrelExitCode::NoLongerProven;
        }
    }
    // A folder link on the way could lead the copy's path onto another volume, or onto the autorun.inf.
    if (copy.information.dwVolumeSerialNumber != autorun.information.dwVolumeSerialNumber ||
        (copy.information.nFileIndexHigh == autorun.information.nFileIndexHigh &&
         copy.information.nFileIndexLow == autorun.information.nFileIndexLow)) {
        TW_LOG(LogLevel::Error, "%S and %S are not two files of one volume; nothing changed", copyPath.c_str(),
               autorunPath.c_str());
        return MendrelExitCode::NoLongerProven;
    }

    // Proven again on the handles that will delete them.
    std::string copySha1, autorunBytes;
    if (!copy.Sha1(copySha1) || copySha1 != sha1) {
        TW_LOG(LogLevel::Warning, "%S is no longer the file the scan proved (SHA-1 %s); nothing changed",
               copyPath.c_str(), copySha1.c_str());
        return MendrelExitCode::NoLongerProven;
    }
    if (!autorun.ReadAll(AutoRunInf::kMaxBytes, autorunBytes) || !StartsCopy(autorunBytes, copyPath)) {
        TW_LOG(LogLevel::Warning, "%S no longer starts %S; nothing changed", autorunPath.c_str(), copyPath.c_str());
        return MendrelExitCode::NoLongerProven;
    }
    if (!checks_.isWritable(drive)) {
        TW_LOG(LogLevel::Warning, "%S is write-protected or cannot say whether it takes changes; nothing changed",
               drive.c_str());
        return MendrelExitCode::ReadOnlyMedium;
    }

    Descriptor saved;
    if (!checks_.volumeSerial(copy.handle.Get(), saved.volumeSerial)) {
        TW_LOG(LogLevel::Error, "The volume serial of %S cannot be read; nothing changed", drive.c_str());
        return MendrelExitCode::QuarantineFailed;
    }
    if (!store_.Prepare()) return MendrelExitCode::QuarantineFailed;
    QuarantinedFile keptCopy, keptAutorun;
    DWORD error = ERROR_SUCCESS;
    if (!copy.Rewind() || !store_.Copy(copy.handle.Get(), copyPath, copy.Attributes(), keptCopy, error))
        return MendrelExitCode::QuarantineFailed;
    if (!autorun.Rewind() || !store_.Copy(autorun.handle.Get(), autorunPath, autorun.Attributes(), keptAutorun, error)) {
        store_.Discard(keptCopy);
        return MendrelExitCode::QuarantineFailed;
    }
    auto discard = [&](int code) {
        store_.Discard(keptCopy);
        store_.Discard(keptAutorun);
        return code;
    };
    // Nobody could write to them while they were held: anything else is a fault of the device.
    if (keptCopy.sha1 != sha1 || keptAutorun.sha1 != Sha1OfBytes(autorunBytes)) {
        TW_LOG(LogLevel::Error, "%S or %S read differently the second time; nothing changed", copyPath.c_str(),
               autorunPath.c_str());
        return discard(MendrelExitCode::NoLongerProven);
    }
    saved.copy = FileRecord{copyPath, keptCopy.sha1, keptCopy.size, keptCopy.attributes};
    saved.autorun = FileRecord{autorunPath, keptAutorun.sha1, keptAutorun.size, keptAutorun.attributes};
    saved.removedAt = IsoUtcNow();
    const std::string descriptor = DescriptorText(saved);
    QuarantineEntry entry;
    entry.kind = kQuarantineKindDriveCopy;
    entry.sha1 = Sha1OfBytes(descriptor);
    entry.keysName = Widen(entry.sha1) + kDescriptorSuffix;
    entry.originalPath = copyPath;
    entry.size = keptCopy.size;
    entry.attributes = keptCopy.attributes;
    entry.copyName = Widen(keptCopy.sha1) + L".bin";
    entry.state = L"quarantined";
    entry.time = entry.removedAt = saved.removedAt;
    if (!store_.SaveNewFile(entry.keysName, descriptor)) return discard(MendrelExitCode::QuarantineFailed);
    // Recorded before anything changes: a removal the manifest does not know could not be listed or undone.
    if (!store_.Record(entry)) {
        store_.DiscardKeys(entry.keysName);
        return discard(MendrelExitCode::QuarantineFailed);
    }

    bool changed = false;
    const int code = DeleteBoth(copy, autorun, changed);
    if (!changed) {
        // Nothing left the drive: the entry holds nothing to restore.
        entry.state = L"undone";
        entry.time = IsoUtcNow();
        store_.Record(entry);
        discard(code);
    }
    if (code != MendrelExitCode::Removed) {
        TW_LOG(LogLevel::Error, "Removal of %S ends with %d", copyPath.c_str(), code);
        return code;
    }
    TW_LOG(LogLevel::Info, "Removed %S and %S, kept as %s", copyPath.c_str(), autorunPath.c_str(), entry.sha1.c_str());
    return MendrelExitCode::Removed;
}

int DriveCopyRemoval::Restore(const QuarantineEntry& entry) {
    TW_LOG_SCOPE("DriveCopyRemoval::Restore()");
    std::string bytes;
    Descriptor saved;
    if (entry.keysName != Widen(entry.sha1) + kDescriptorSuffix ||
        !store_.LoadFile(entry.keysName, kMaxDescriptorBytes, bytes) || Sha1OfBytes(bytes) != entry.sha1 ||
        !ParseDescriptor(bytes, saved) || !EqualIgnoringCase(saved.copy.path, entry.originalPath)) {
        TW_LOG(LogLevel::Error, "%S is not the drive copy saved as %s; nothing restored", entry.keysName.c_str(),
               entry.sha1.c_str());
        return MendrelExitCode::QuarantineUnreadable;
    }
    KernelHandle copy, autorun;
    if (!store_.OpenCheckedCopy(StoredCopyOf(saved.copy), copy) ||
        !store_.OpenCheckedCopy(StoredCopyOf(saved.autorun), autorun))
        return MendrelExitCode::QuarantineUnreadable;

    // The letter may name another stick now, or a share mapped since: only the very volume gets them back.
    const std::wstring drive = saved.copy.path.substr(0, 2);
    // The root is opened once and everything below it is made relative to it, never through a link: a
    // folder of the stick made a junction since the removal cannot lead the files elsewhere.
    KernelHandle root(CreateFileW((drive + L"\\").c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    DWORD serial = 0;
    if (!IsCopyDrive(drive) || !root.IsValid() || !checks_.volumeSerial(root.Get(), serial) ||
        serial != saved.volumeSerial) {
        TW_LOG(LogLevel::Warning, "%S holds another volume now (serial %s, was %s); nothing restored", drive.c_str(),
               root.IsValid() ? Hex8(serial).c_str() : "-", Hex8(saved.volumeSerial).c_str());
        return MendrelExitCode::RestoreRefused;
    }

    std::vector<KernelHandle> placed;  // held until the entry says restored: the undo goes through them
    auto undo = [&](int code) {
        for (KernelHandle& file : placed) {
            const LONG status = MarkOpenFileForDeletion(file.Get());
            if (status != 0) TW_LOG(LogLevel::Error, "A placed file could not be taken back (0x%08lX)", (unsigned long)status);
        }
        return code;
    };
    const std::pair<const FileRecord*, HANDLE> files[] = {{&saved.copy, copy.Get()}, {&saved.autorun, autorun.Get()}};
    for (const auto& file : files) {
        DWORD error = ERROR_SUCCESS;
        KernelHandle target = ProtectedDataFolder::CreateFileBeneath(
            root.Get(), file.first->path.substr(3), error, GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES);
        if (!target.IsValid()) {
            TW_LOG(LogLevel::Warning, "%S cannot be placed (error %d: taken, its folder gone or a link); nothing restored",
                   file.first->path.c_str(), (int)error);
            const bool refused = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                                 error == ERROR_CANT_ACCESS_FILE || error == ERROR_PATH_NOT_FOUND ||
                                 error == ERROR_FILE_NOT_FOUND;
            return undo(refused ? MendrelExitCode::RestoreRefused : MendrelExitCode::RestoreFailed);
        }
        DWORD landed = 0;
        if (!checks_.volumeSerial(target.Get(), landed) || landed != saved.volumeSerial) {
            TW_LOG(LogLevel::Error, "%S did not land on the checked volume; nothing restored", file.first->path.c_str());
            placed.push_back(std::move(target));
            return undo(MendrelExitCode::RestoreRefused);
        }
        const QuarantineStore::CopyOutcome outcome =
            store_.CopyOutInto(file.second, StoredCopyOf(*file.first), target.Get(), file.first->path);
        if (outcome != QuarantineStore::CopyOutcome::Copied)
            return undo(outcome == QuarantineStore::CopyOutcome::Damaged ? MendrelExitCode::QuarantineUnreadable
                                                                          : MendrelExitCode::RestoreFailed);
        placed.push_back(std::move(target));
    }
    QuarantineEntry restored = entry;
    restored.state = L"restored";
    restored.time = IsoUtcNow();
    if (!store_.Record(restored)) return undo(MendrelExitCode::RestoreFailed);
    // The attributes come last, through the handles: a read-only file could not be taken back.
    const FileRecord* records[] = {&saved.copy, &saved.autorun};
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const DWORD attributes = records[i]->attributes & kSettableAttributes;
        if (attributes && SetOpenFileAttributes(placed[i].Get(), attributes) != 0)
            TW_LOG(LogLevel::Warning, "%S restored without its attributes 0x%lX", records[i]->path.c_str(),
                   (unsigned long)attributes);
    }
    TW_LOG(LogLevel::Info, "Restored %S and %S", saved.copy.path.c_str(), saved.autorun.path.c_str());
    return MendrelExitCode::Restored;
}
