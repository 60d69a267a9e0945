#pragma once
// Unpacks an opened 7z archive entry by entry into a target folder. No Win32 types: the file system
// side is behind IExtractTarget, so the same walk is fuzzed natively.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/payload/ArchiveEntryName.h"

class SevenZipArchive;

// Where the entries go. Names are relative to the target folder, UTF-16 as the archive stores them, and
// are handed out only after every name of the archive passed CheckArchiveEntryName.
class IExtractTarget {
public:
    virtual ~IExtractTarget() = default;
    // The name that made the archive be refused; nothing has been written.
    virtual void Refused(const std::u16string& name, EntryNameVerdict verdict) = 0;
    // Failures, an existing folder among them, are ignored.
    virtual void CreateFolder(const std::u16string& name) = 0;
    // Creates or replaces the file. False when it cannot be created, written completely or closed.
    virtual bool StoreFile(const std::u16string& name, const unsigned char* data, std::size_t size) = 0;
    virtual void SetAttributes(const std::u16string& name, uint32_t attributes) = 0;
};

class ArchiveExtractor {
public:
    explicit ArchiveExtractor(IExtractTarget& target) : target_(target) {}

    // Refuses the whole archive when any name would leave the folder; otherwise writes the entries in
    // archive order, creating the folders each name passes through. 0 when every entry was written,
    // else a PackageResult code or the decoder's code (entries written before the failure stay).
    int Extract(SevenZipArchive& archive);

    // Archives made on Linux carry the POSIX mode in the upper half; Windows gets the lower half.
    static uint32_t WindowsAttributes(uint32_t stored);

private:
    int CheckNames(const SevenZipArchive& archive);
    void CreateParentFolders(const std::u16string& name);

    IExtractTarget& target_;
    std::vector<char16_t> name_;
};
