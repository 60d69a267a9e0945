#include "platform/payload/PackageManager.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "platform/log/Logger.h"
#include "platform/payload/ArchiveEntryName.h"
#include "platform/payload/ArchiveExtractor.h"
#include "platform/payload/FileArchiveInStream.h"
#include "platform/payload/PayloadCopier.h"
#include "platform/payload/SevenZipArchive.h"
#include "platform/system/FileUtility.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"PackageManager";

namespace {

const wchar_t kArchiveName[] = L"\\Real.7z";
constexpr DWORD kModulePathSize = 4096;

class FileSource : public IPayloadSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {}
    bool Read(unsigned char* buffer, std::size_t size, std::size_t* got) override {
        DWORD read = 0;
        const BOOL ok = ReadFile(file_, buffer, static_cast<DWORD>(size), &read, nullptr);
        *got = read;
        if (!ok) lastError_ = GetLastError();
        return ok != FALSE;
    }
    DWORD LastError() const { return lastError_; }

private:
    HANDLE file_;
    DWORD lastError_ = 0;
};

class FileSink : public IPayloadSink {
public:
    explicit FileSink(HANDLE file) : file_(file) {}
    void Write(const unsigned char* data, std::size_t size) override {
        DWORD written = 0;
        WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr);
    }

private:
    HANDLE file_;
};

std::wstring AsWide(const std::u16string& name) { return std::wstring(name.begin(), name.end()); }

const char* Describe(EntryNameVerdict verdict) {
    switch (verdict) {
    case EntryNameVerdict::Rooted: return "absolute path";
    case EntryNameVerdict::HasColon: return "drive or stream";
    case EntryNameVerdict::ParentStep: return "parent folder step";
    case EntryNameVerdict::DeviceName: return "device name";
    case EntryNameVerdict::Inside: break;
    }
    return "inside";
}

bool WriteAll(HANDLE file, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written != chunk) return false;
        data += chunk;
        size -= chunk;
    }
    return true;
}

int WriteEntry(const std::wstring& destination, const unsigned char* data, std::size_t size) {
    KernelHandle out(CreateFileW(destination.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.IsValid()) {
        TW_LOG(LogLevel::Error, "CreateFileW(%S) Error=%d", destination.c_str(), (int)GetLastError());
        return PackageResult::kCannotWriteFile;
    }
    if (!WriteAll(out.Get(), data, size)) {
        TW_LOG(LogLevel::Error, "WriteFile(%S) Error=%d", destination.c_str(), (int)GetLastError());
        return PackageResult::kCannotWriteFile;
    }
    if (!out.Close()) return PackageResult::kCannotWriteFile;
    return PackageResult::kOk;
}

// The work folder on disk, as the extraction walk sees it.
class FolderTarget final : public IExtractTarget {
public:
    FolderTarget(const wchar_t* archivePath, const wchar_t* folder) : archivePath_(archivePath), folder_(folder) {}

    void Refused(const std::u16string& name, EntryNameVerdict verdict) override {
        TW_LOG(LogLevel::Error, "Extract7z(%S) refused entry \"%S\" (%s)", archivePath_, AsWide(name).c_str(),
               Describe(verdict));
    }
    void CreateFolder(const std::u16string& name) override { CreateDirectoryW(Destination(name).c_str(), nullptr); }
    bool StoreFile(const std::u16string& name, const unsigned char* data, std::size_t size) override {
        return WriteEntry(Destination(name), data, size) == PackageResult::kOk;
    }
    void SetAttributes(const std::u16string& name, uint32_t attributes) override {
        SetFileAttributesW(Destination(name).c_str(), attributes);
    }

private:
    std::wstring Destination(const std::u16string& name) const { return folder_ + L"/" + AsWide(name); }

    const wchar_t* archivePath_;
    const std::wstring folder_;
};

// Opens the copied archive once, so that nobody can write it while it is checked and read, and
// compares its first stamp.size bytes with the stamp. The handle is what extraction reads.
KernelHandle OpenMatchingArchive(const std::wstring& archivePath, const PayloadStamp& expected) {
    KernelHandle archive(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive.IsValid()) {
        TW_LOG(LogLevel::Error, "Can't open archive %S (%d)", archivePath.c_str(), (int)GetLastError());
        return KernelHandle();
    }
    if (!expected.IsSet()) {
        TW_LOG(LogLevel::Error, "The program carries no payload digest: nothing is unpacked");
        return KernelHandle();
    }
    PayloadDigest digest;
    std::vector<unsigned char> buffer(65536);
    uint64_t left = expected.size;
    while (left > 0) {
        const DWORD wanted = left < buffer.size() ? static_cast<DWORD>(left) : static_cast<DWORD>(buffer.size());
        DWORD got = 0;
        if (!ReadFile(archive.Get(), buffer.data(), wanted, &got, nullptr)) {
            TW_LOG(LogLevel::Error, "ReadFile(%S) Error=%d", archivePath.c_str(), (int)GetLastError());
            return KernelHandle();
        }
        if (got == 0) break;
        digest.Update(buffer.data(), got);
        left -= got;
    }
    if (!(digest.Finish() == expected)) {
        TW_LOG(LogLevel::Error, "The payload in %S is not the one this program was built with: nothing is unpacked",
               archivePath.c_str());
        return KernelHandle();
    }
    return archive;
}

int ExtractChecked(KernelHandle archiveFile, uint64_t size, const wchar_t* archivePath, const wchar_t* folder) {
    std::unique_ptr<FileArchiveInStream> stream(new FileArchiveInStream);
    stream->Adopt(std::move(archiveFile), size);
    SevenZipArchive archive;
    const int result = archive.Open(std::move(stream));
    if (result != PackageResult::kOk) return result;
    FolderTarget target(archivePath, folder);
    return ArchiveExtractor(target).Extract(archive);
}

void LogExtractResult(int result, const wchar_t* archivePath, const wchar_t* folder) {
    if (result != PackageResult::kOk) {
        // The arrow is kept as the two bytes it has in code page 950.
        TW_LOG(LogLevel::Error, "%s Extract7z(%S \xA1\xF7 %S) Error=%d", "unzipSfxPayload",
               archivePath ? archivePath : L"", folder ? folder : L"", result);
    }
    TW_LOG(LogLevel::Leave, "unzipSfxPayload");
}

std::wstring OwnProgramPath() {
    wchar_t path[kModulePathSize] = {};
    GetModuleFileNameW(nullptr, path, kModulePathSize);
    return path;
}

}  // namespace

bool PrepareComponents(const std::wstring& folder) {
    return PrepareComponentsFrom(OwnProgramPath().c_str(), folder, PayloadStamp::OfThisImage());
}

bool PrepareComponentsFrom(const wchar_t* sfxPath, const std::wstring& folder, const PayloadStamp& expected) {
    if (IsEmptyOrVolumeRoot(folder)) {
        TW_LOG(LogLevel::Error, "PrepareComponents(%S) refused: no work folder", folder.c_str());
        return false;
    }
    const std::wstring archivePath = folder + kArchiveName;
    std::fputs("Preparing components...\n\n", stdout);
    if (!DropPayloadArchiveFrom(sfxPath, archivePath.c_str())) return false;
    KernelHandle archive = OpenMatchingArchive(archivePath, expected);
    if (!archive.IsValid()) return false;
    TW_LOG(LogLevel::Enter, "unzipSfxPayload");
    const int result = ExtractChecked(std::move(archive), expected.size, archivePath.c_str(), folder.c_str());
    LogExtractResult(result, archivePath.c_str(), folder.c_str());
    if (result != PackageResult::kOk) return false;
    DeleteFileW(archivePath.c_str());
    return true;
}

bool DropPayloadArchive(const wchar_t* archivePath) {
    if (archivePath == nullptr) return false;
    return DropPayloadArchiveFrom(OwnProgramPath().c_str(), archivePath);
}

bool DropPayloadArchiveFrom(const wchar_t* sfxPath, const wchar_t* archivePath) {
    if (sfxPath == nullptr || archivePath == nullptr) return false;
    TW_LOG(LogLevel::Enter, "Drop payload archive");
    KernelHandle sfx(CreateFileW(sfxPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    if (!sfx.IsValid()) {
        TW_LOG(LogLevel::Error, "Can't open sfx %S (%d)", sfxPath, (int)GetLastError());
        return false;
    }
    KernelHandle archive(CreateFileW(archivePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!archive.IsValid()) {
        TW_LOG(LogLevel::Error, "can't create archive file %S (%d)", archivePath, (int)GetLastError());
        return false;
    }

    FileSource source(sfx.Get());
    FileSink sink(archive.Get());
    PayloadCopier copier;
    switch (copier.Copy(source, sink)) {
    case PayloadCopyResult::Copied:
        break;
    case PayloadCopyResult::ReadFailed:
        TW_LOG(LogLevel::Error, "read self-extract file failed, err=%d", (int)source.LastError());
        return false;
    case PayloadCopyResult::MarkerBeyondLimit:
        TW_LOG(LogLevel::Error, "Cannot find sfx signature");
        return false;
    case PayloadCopyResult::EndOfFileBeforeMarker:
        TW_LOG(LogLevel::Error, "Sfx file ends before the sfx signature");
        return false;
    }
    sfx.Close();
    archive.Close();
    TW_LOG(LogLevel::Leave, "Drop payload archive");
    return true;
}

bool unzipSfxPayload(const wchar_t* archivePath, const wchar_t* folder) {
    TW_LOG(LogLevel::Enter, "unzipSfxPayload");
    const int result = Extract7z(archivePath, folder);
    LogExtractResult(result, archivePath, folder);
    return result == PackageResult::kOk;
}

int Extract7z(const wchar_t* archivePath, const wchar_t* folder) {
    if (archivePath == nullptr || folder == nullptr) return PackageResult::kCannotOpenArchive;
    // Entries go to folder + "/" + name: an empty folder would put them at the root of the drive.
    if (IsEmptyOrVolumeRoot(folder)) return PackageResult::kUnsafeFolder;
    SevenZipArchive archive;
    const int result = archive.Open(archivePath);
    if (result != PackageResult::kOk) return result;
    FolderTarget target(archivePath, folder);
    return ArchiveExtractor(target).Extract(archive);
}
