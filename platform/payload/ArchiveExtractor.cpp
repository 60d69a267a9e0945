#include "platform/payload/ArchiveExtractor.h"

#include "platform/payload/PackageManager.h"
#include "platform/payload/SevenZipArchive.h"

namespace {

// Flags the POSIX mode in the upper half of a stored attribute value.
constexpr uint32_t kUnixExtensionFlag = 0x8000;

}  // namespace

uint32_t ArchiveExtractor::WindowsAttributes(uint32_t stored) {
    if ((stored & kUnixExtensionFlag) != 0 && (stored >> 16) != 0) return stored & 0x7FFF;
    return stored;
}

// Every name is checked before anything is written: a refused archive leaves the folder untouched.
int ArchiveExtractor::CheckNames(const SevenZipArchive& archive) {
    for (uint32_t i = 0; i < archive.EntryCount(); ++i) {
        if (archive.ReadName(i, name_) != 0) return PackageResult::kOutOfMemory;
        const std::u16string name(name_.data());
        const EntryNameVerdict verdict = CheckArchiveEntryName(name.data(), name.size());
        if (verdict != EntryNameVerdict::Inside) {
            target_.Refused(name, verdict);
            return PackageResult::kUnsafeEntryName;
        }
    }
    return PackageResult::kOk;
}

// Archives carry "/" between components; a "\\" from an archiver on Windows separates them just as well.
void ArchiveExtractor::CreateParentFolders(const std::u16string& name) {
    for (std::size_t slash = name.find_first_of(u"/\\"); slash != std::u16string::npos;
         slash = name.find_first_of(u"/\\", slash + 1)) {
        target_.CreateFolder(name.substr(0, slash));
    }
}

int ArchiveExtractor::Extract(SevenZipArchive& archive) {
    int result = CheckNames(archive);
    if (result != PackageResult::kOk) return result;

    for (uint32_t i = 0; i < archive.EntryCount(); ++i) {
        result = archive.ReadName(i, name_);
        if (result != PackageResult::kOk) break;
        const bool isDirectory = archive.IsDirectory(i);
        const unsigned char* data = nullptr;
        std::size_t size = 0;
        if (!isDirectory) {
            result = archive.Extract(i, &data, &size);
            if (result != PackageResult::kOk) break;
        }
        const std::u16string name(name_.data());
        CreateParentFolders(name);
        if (isDirectory) {
            target_.CreateFolder(name);
            continue;
        }
        if (!target_.StoreFile(name, data, size)) {
            result = PackageResult::kCannotWriteFile;
            break;
        }
        if (archive.HasAttributes(i)) target_.SetAttributes(name, WindowsAttributes(archive.Attributes(i)));
    }
    return result;
}
