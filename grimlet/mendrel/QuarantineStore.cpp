#include "grimlet/mendrel/QuarantineStore.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>

#include "platform/system/FileSystemRedirectionGuard.h"
#include "grimlet/mendrel/FileRemover.h"
#include "platform/hash/FileDigest.h"
#include "platform/log/Logger.h"
#include "platform/system/DataFolder.h"
#include "platform/system/OrdinalName.h"
#include "platform/system/Utf8.h"
#include "platform/win32/KernelHandle.h"
#include "platform/win32/LocalMemory.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

const wchar_t kManifestName[] = L"manifest.txt";
constexpr std::size_t kManifestColumns = 11;
// Lines written before the kind column, and before the column of what was not saved: both services.
constexpr std::size_t kServiceManifestColumns = 10;
constexpr std::size_t kOlderManifestColumns = 9;
// Saved keys of a service are a few kilobytes; anything near this is not ours.
constexpr uint64_t kMaxKeysFileBytes = 2 * (RegFile::kMaxTextUnits + 1);  // the mark and the most text Parse reads
constexpr uint64_t kMaxManifestBytes = 64u << 20;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Ascii(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

bool IsSha1Text(const std::string& text) {
    if (text.size() != 40) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

// A manifest column: never empty, never a tab or a line break, which would shift the columns.
std::wstring Column(const std::wstring& text) {
    if (text.empty()) return L"-";
    std::wstring out = text;
    for (wchar_t& c : out)
        if (c == L'\t' || c == L'\r' || c == L'\n') c = L' ';
    return out;
}

std::wstring FromColumn(const std::wstring& text) { return text == L"-" ? std::wstring() : text; }

std::vector<std::wstring> SplitTabs(const std::wstring& line) {
    std::vector<std::wstring> columns;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find(L'\t', start);
        columns.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos) return columns;
        start = tab + 1;
    }
}

bool ParseManifestLine(const std::wstring& line, QuarantineEntry& entry) {
    std::vector<std::wstring> columns = SplitTabs(line);
    if (columns.size() != kManifestColumns && columns.size() != kServiceManifestColumns &&
        columns.size() != kOlderManifestColumns)
        return false;
    entry.originalPath = FromColumn(columns[0]);
    std::string sha1 = Ascii(FromColumn(columns[1]));
    if (!sha1.empty() && !IsSha1Text(sha1)) return false;
    entry.sha1 = sha1;
    entry.size = columns[2] == L"-" ? 0 : _wcstoui64(columns[2].c_str(), nullptr, 10);
    entry.time = FromColumn(columns[3]);
    entry.state = FromColumn(columns[4]);
    entry.attributes = columns[5] == L"-" ? 0 : static_cast<DWORD>(wcstoul(columns[5].c_str(), nullptr, 16));
    entry.copyName = FromColumn(columns[6]);
    entry.keysName = FromColumn(columns[7]);
    entry.services = FromColumn(columns[8]);
    if (columns.size() > 9) entry.unsaved = FromColumn(columns[9]);
    entry.kind = columns.size() > 10 ? FromColumn(columns[10]) : std::wstring(kQuarantineKindService);
    if (entry.kind != kQuarantineKindService && entry.kind != kQuarantineKindAutoRun &&
        entry.kind != kQuarantineKindDriveCopy && entry.kind != kQuarantineKindTask)
        return false;
    entry.removedAt = entry.time;
    // Only names this store gives: a line that points elsewhere is not followed.
    for (const std::wstring* name : {&entry.copyName, &entry.keysName})
        if (name->find_first_of(L"\\/:") != std::wstring::npos || *name == L"." || *name == L"..") return false;
    return !entry.originalPath.empty() && !entry.state.empty();
}

// Reads `file` from its start to its end, writing every byte to `copy` as well when one is given.
bool HashFrom(HANDLE file, HANDLE copy, std::string& sha1, uint64_t& size) {
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    FileDigest hash(false, true);
    size = 0;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) break;
        DWORD put = 0;
        if (copy && (!WriteFile(copy, buffer.data(), got, &put, nullptr) || put != got)) return false;
        hash.Update(buffer.data(), got);
        size += got;
    }
    sha1 = hash.FinishSha1Hex();
    return true;
}

}  // namespace

bool QuarantineStore::Prepare() {
    if (folder_ && folder_->IsOpen()) return true;
    // The machine's quarantine is checked level by level from the common application data folder down;
    // a quarantine elsewhere (the tests') from the folder that holds it.
    if (EqualIgnoringCase(path_, MachineQuarantineFolder())) {
        folder_.reset(new ProtectedDataFolder(kQuarantineLeaf));
    } else {
        std::size_t slash = path_.rfind(L'\\');
        if (slash == std::wstring::npos || slash == 0) return false;
        folder_.reset(new ProtectedDataFolder(path_.substr(0, slash), {path_.substr(slash + 1)}));
    }
    if (!folder_->IsOpen()) {
        TW_LOG(LogLevel::Error, "The quarantine folder is refused: %S", folder_->Failure().c_str());
        return false;
    }
    // Files made here are given to Administrators too, whatever owner the account would give them (an
    // administrator's own on XP with "object creator" as the default owner); the list is the folder's.
    LocalMemory<PSECURITY_DESCRIPTOR> converted;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BA", SDDL_REVISION_1, converted.Receive(), nullptr)) {
        const BYTE* bytes = static_cast<const BYTE*>(converted.Get());
        fileOwner_.assign(bytes, bytes + GetSecurityDescriptorLength(converted.Get()));
    }
    // What this system records as the owner of the folder just given to Administrators: where it keeps
    // no owners (Wine), files made by this same account show that owner too.
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    PSID owner = nullptr;
    if (GetSecurityInfo(folder_->Handle(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.Receive()) == ERROR_SUCCESS &&
        owner && IsValidSid(owner)) {
        const BYTE* bytes = static_cast<const BYTE*>(owner);
        folderOwner_.assign(bytes, bytes + GetLengthSid(owner));
    }
    return true;
}

SECURITY_ATTRIBUTES QuarantineStore::OwnedByAdministrators() const {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (!fileOwner_.empty()) attributes.lpSecurityDescriptor = const_cast<BYTE*>(fileOwner_.data());
    return attributes;
}

const std::wstring& QuarantineStore::FolderFailure() const {
    static const std::wstring none;
    return folder_ ? folder_->Failure() : none;
}

bool QuarantineStore::HasTrustedOwner(HANDLE file) const {
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    PSID owner = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.Receive()) != ERROR_SUCCESS)
        return false;
    return ProtectedDataFolder::IsTrustedOwner(descriptor.Get(),
                                               folderOwner_.empty() ? nullptr : const_cast<BYTE*>(folderOwner_.data()));
}

bool QuarantineStore::ReadStoreFile(const std::wstring& name, uint64_t limit, std::string& bytes, DWORD& error) const {
    std::wstring path = path_ + L"\\" + name;
    // Another run may be appending to the manifest meanwhile; what is read is taken whole into memory.
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid()) {
        error = GetLastError();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(file.Get(), &information)) {
        error = GetLastError();
        return false;
    }
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        !HasTrustedOwner(file.Get())) {
        TW_LOG(LogLevel::Error, "%S is not a plain file owned by Administrators or SYSTEM; refused", path.c_str());
        error = ERROR_ACCESS_DENIED;
        return false;
    }
    if ((static_cast<uint64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow) > limit) {
        error = ERROR_FILE_TOO_LARGE;
        return false;
    }
    bytes.assign(information.nFileSizeLow, '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size())) {
        error = got != bytes.size() ? ERROR_HANDLE_EOF : GetLastError();
        return false;
    }
    return true;
}

bool QuarantineStore::Copy(HANDLE source, const std::wstring& path, DWORD attributes, QuarantinedFile& copy,
                           DWORD& error) {
    error = ERROR_SUCCESS;
    wchar_t pendingName[64];
    _snwprintf(pendingName, 64, L"\\pending-%lu-%lu.tmp", GetCurrentProcessId(), GetTickCount());
    pendingName[63] = L'\0';
    std::wstring pendingPath = path_ + pendingName;
    SECURITY_ATTRIBUTES owner = OwnedByAdministrators();
    KernelHandle target(CreateFileW(pendingPath.c_str(), GENERIC_WRITE, 0, &owner, CREATE_ALWAYS, 0, nullptr));
    if (!target.IsValid()) {
        error = GetLastError();
        TW_LOG(LogLevel::Error, "CreateFileW(%S) Error=%d", pendingPath.c_str(), (int)error);
        return false;
    }
    FileDigest hash(false, true);
    uint64_t size = 0;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            error = GetLastError();
            break;
        }
        if (got == 0) break;
        DWORD written = 0;
        if (!WriteFile(target.Get(), buffer.data(), got, &written, nullptr) || written != got) {
            error = GetLastError();
            break;
        }
        hash.Update(buffer.data(), got);
        size += got;
    }
    if (error == ERROR_SUCCESS && !FlushFileBuffers(target.Get())) error = GetLastError();
    target.Close();
    if (error != ERROR_SUCCESS) {
        TW_LOG(LogLevel::Error, "Copying %S into quarantine Error=%d", path.c_str(), (int)error);
        DeleteFileW(pendingPath.c_str());
        return false;
    }
    copy.originalPath = path;
    copy.sha1 = hash.FinishSha1Hex();
    copy.size = size;
    copy.attributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    copy.copyPath = path_ + L"\\" + Widen(copy.sha1) + L".bin";
    copy.newlyStored = GetFileAttributesW(copy.copyPath.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (!MoveFileExW(pendingPath.c_str(), copy.copyPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = GetLastError();
        TW_LOG(LogLevel::Error, "MoveFileExW(%S) Error=%d", copy.copyPath.c_str(), (int)error);
        DeleteFileW(pendingPath.c_str());
        return false;
    }
    TW_LOG(LogLevel::Info, "Quarantined %S as %S (%S bytes)", path.c_str(), copy.copyPath.c_str(),
           std::to_wstring(size).c_str());
    return true;
}

void QuarantineStore::Discard(const QuarantinedFile& copy) {
    if (!copy.copyPath.empty() && copy.newlyStored) DeleteFileW(copy.copyPath.c_str());
}

bool QuarantineStore::SaveKeys(const std::vector<RegFileKey>& keys, const std::wstring& stem, std::wstring& fileName) {
    std::u16string text;
    std::string problem;
    if (!RegFile::Format(keys, text, problem)) {
        TW_LOG(LogLevel::Error, "The service keys cannot be saved: %s", problem.c_str());
        return false;
    }
    std::vector<uint8_t> bytes = RegFile::Encode(text);
    // A later removal of the same bytes keeps the keys of the earlier one.
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        fileName = attempt == 1 ? stem + L".reg" : stem + L"-" + std::to_wstring(attempt) + L".reg";
        std::wstring path = path_ + L"\\" + fileName;
        SECURITY_ATTRIBUTES owner = OwnedByAdministrators();
        KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, &owner, CREATE_NEW, 0, nullptr));
        if (!file.IsValid()) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            TW_LOG(LogLevel::Error, "CreateFileW(%S) Error=%d", path.c_str(), (int)error);
            return false;
        }
        DWORD written = 0;
        bool ok = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(file.Get());
        DWORD error = GetLastError();
        file.Close();
        if (!ok) {
            TW_LOG(LogLevel::Error, "WriteFile(%S) Error=%d", path.c_str(), (int)error);
            DeleteFileW(path.c_str());
            return false;
        }
        TW_LOG(LogLevel::Info, "Saved %S key(s) as %S", std::to_wstring(keys.size()).c_str(), path.c_str());
        return true;
    }
    TW_LOG(LogLevel::Error, "No free name for the saved keys of %S", stem.c_str());
    return false;
}

void QuarantineStore::DiscardKeys(const std::wstring& fileName) {
    if (!fileName.empty()) DeleteFileW((path_ + L"\\" + fileName).c_str());
}

bool QuarantineStore::LoadKeys(const std::wstring& fileName, std::vector<RegFileKey>& keys, bool allowAbsent) const {
    std::wstring path = path_ + L"\\" + fileName;
    std::string bytes;
    DWORD error = ERROR_SUCCESS;
    if (!ReadStoreFile(fileName, kMaxKeysFileBytes, bytes, error)) {
        TW_LOG(LogLevel::Error, "Reading %S Error=%d", path.c_str(), (int)error);
        return false;
    }
    std::u16string text;
    std::string problem = "no UTF-16 byte-order mark";
    if (!RegFile::Decode(std::vector<uint8_t>(bytes.begin(), bytes.end()), text) ||
        !RegFile::Parse(text, keys, problem, allowAbsent)) {
        TW_LOG(LogLevel::Error, "%S is malformed: %s", path.c_str(), problem.c_str());
        return false;
    }
    return true;
}

bool QuarantineStore::SaveNewFile(const std::wstring& name, const std::string& bytes) {
    const std::wstring path = path_ + L"\\" + name;
    SECURITY_ATTRIBUTES owner = OwnedByAdministrators();
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, &owner, CREATE_NEW, 0, nullptr));
    if (!file.IsValid()) {
        TW_LOG(LogLevel::Error, "CreateFileW(%S) Error=%d", path.c_str(), (int)GetLastError());
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && FlushFileBuffers(file.Get());
    const DWORD error = GetLastError();
    file.Close();
    if (!ok) {
        TW_LOG(LogLevel::Error, "WriteFile(%S) Error=%d", path.c_str(), (int)error);
        DeleteFileW(path.c_str());
    }
    return ok;
}

bool QuarantineStore::LoadFile(const std::wstring& name, uint64_t limit, std::string& bytes) const {
    DWORD error = ERROR_SUCCESS;
    if (ReadStoreFile(name, limit, bytes, error)) return true;
    TW_LOG(LogLevel::Error, "Reading %S\\%S Error=%d", path_.c_str(), name.c_str(), (int)error);
    return false;
}

bool QuarantineStore::Record(const QuarantineEntry& entry) {
    wchar_t attributes[16];
    _snwprintf(attributes, 16, L"%08lX", entry.attributes);
    attributes[15] = L'\0';
    bool copied = !entry.sha1.empty();
    std::wstring line = Column(entry.originalPath) + L"\t" + Column(Widen(entry.sha1)) + L"\t" +
                        (copied ? std::to_wstring(entry.size) : L"-") + L"\t" + Column(entry.time) + L"\t" +
                        Column(entry.state) + L"\t" + (copied ? attributes : L"-") + L"\t" + Column(entry.copyName) +
                        L"\t" + Column(entry.keysName) + L"\t" + Column(entry.services) + L"\t" + Column(entry.unsaved);
    // Service lines keep the ten columns they always had; an engine that knows no kinds skips the rest.
    if (entry.kind != kQuarantineKindService) line += L"\t" + Column(entry.kind);
    return AppendLine(line);
}

bool QuarantineStore::ReadEntries(std::vector<QuarantineEntry>& entries) const {
    entries.clear();
    std::wstring path = path_ + L"\\" + kManifestName;
    std::string bytes;
    DWORD error = ERROR_SUCCESS;
    if (!ReadStoreFile(kManifestName, kMaxManifestBytes, bytes, error)) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        TW_LOG(LogLevel::Error, "Reading %S Error=%d", path.c_str(), (int)error);
        return false;
    }
    std::size_t start = 0;
    int lineNumber = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        // A line still being written by another run has no line break yet.
        if (end == std::string::npos) break;
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        QuarantineEntry entry;
        if (!ParseManifestLine(WideFromUtf8(line), entry)) {
            TW_LOG(LogLevel::Warning, "%S line %d is not an entry; skipped", path.c_str(), lineNumber);
            continue;
        }
        bool merged = false;
        if (!entry.keysName.empty()) {
            for (QuarantineEntry& known : entries) {
                if (known.keysName != entry.keysName) continue;
                std::wstring removedAt = known.removedAt;
                known = entry;
                known.removedAt = removedAt;
                merged = true;
                break;
            }
        }
        if (!merged) entries.push_back(entry);
    }
    return true;
}

bool QuarantineStore::OpenCheckedCopy(const QuarantineEntry& entry, KernelHandle& copy) const {
    if (entry.copyName != Widen(entry.sha1) + L".bin") {
        TW_LOG(LogLevel::Error, "The stored copy of %S is named %S, not after its SHA-1", entry.originalPath.c_str(),
               entry.copyName.c_str());
        return false;
    }
    std::wstring storedPath = path_ + L"\\" + entry.copyName;
    // Others may read the copy while it is held, not change it: what is checked here is what is copied.
    copy.Attach(CreateFileW(storedPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!copy.IsValid()) {
        TW_LOG(LogLevel::Error, "CreateFileW(%S) Error=%d", storedPath.c_str(), (int)GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(copy.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        TW_LOG(LogLevel::Error, "%S is not a plain file", storedPath.c_str());
        return false;
    }
    if (!HasTrustedOwner(copy.Get())) {
        TW_LOG(LogLevel::Error, "%S is not owned by Administrators or SYSTEM; refused", storedPath.c_str());
        return false;
    }
    std::string sha1;
    uint64_t size = 0;
    if (!HashFrom(copy.Get(), nullptr, sha1, size) || size != entry.size || sha1 != entry.sha1) {
        TW_LOG(LogLevel::Error, "%S no longer holds the bytes that were quarantined", storedPath.c_str());
        return false;
    }
    return true;
}

QuarantineStore::CopyOutcome QuarantineStore::CopyOut(HANDLE checkedCopy, const QuarantineEntry& entry,
                                                       const std::wstring& target) const {
    HANDLE targetHandle;
    {
        FileSystemRedirectionGuard redirection;
        targetHandle = CreateFileW(target.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                   nullptr);
    }
    KernelHandle written(targetHandle);
    if (!written.IsValid()) {
        DWORD error = GetLastError();
        TW_LOG(LogLevel::Error, "CreateFileW(%S) Error=%d", target.c_str(), (int)error);
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CopyOutcome::TargetExists
                                                                           : CopyOutcome::Failed;
    }
    return CopyOutInto(checkedCopy, entry, written.Get(), target);
}

QuarantineStore::CopyOutcome QuarantineStore::CopyOutInto(HANDLE checkedCopy, const QuarantineEntry& entry,
                                                           HANDLE target, const std::wstring& shown) const {
    std::string sha1;
    uint64_t size = 0;
    CopyOutcome outcome = CopyOutcome::Copied;
    if (!HashFrom(checkedCopy, target, sha1, size))
        outcome = CopyOutcome::Failed;
    else if (size != entry.size || sha1 != entry.sha1)
        outcome = CopyOutcome::Damaged;
    else if (!FlushFileBuffers(target))
        outcome = CopyOutcome::Failed;
    if (outcome != CopyOutcome::Copied) {
        TW_LOG(LogLevel::Error, "Copying out to %S failed (%d)", shown.c_str(), (int)outcome);
        MarkOpenFileForDeletion(target);
    }
    return outcome;
}

bool QuarantineStore::AppendLine(const std::wstring& line) {
    std::wstring manifest = path_ + L"\\" + kManifestName;
    SECURITY_ATTRIBUTES owner = OwnedByAdministrators();
    KernelHandle file(CreateFileW(manifest.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &owner,
                                OPEN_ALWAYS, 0, nullptr));
    if (!file.IsValid()) {
        TW_LOG(LogLevel::Error, "CreateFileW(%S) Error=%d", manifest.c_str(), (int)GetLastError());
        return false;
    }
    // One write per line: runs that append at the same time cannot interleave inside a line.
    std::string bytes = Utf8FromWide(line) + "\r\n";
    DWORD written = 0;
    bool ok = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && FlushFileBuffers(file.Get());
    if (!ok) TW_LOG(LogLevel::Error, "WriteFile(%S) Error=%d", manifest.c_str(), (int)GetLastError());
    return ok;
}

std::wstring MachineQuarantineFolder() {
    const std::wstring folder = TidewashDataFolder(kQuarantineLeaf);
    // Room for "\<40-digit SHA-1>-<n>.reg" and the temporary names beside it.
    constexpr std::size_t kRoomForNames = 64;
    return folder.size() + kRoomForNames < MAX_PATH ? folder : std::wstring();
}
