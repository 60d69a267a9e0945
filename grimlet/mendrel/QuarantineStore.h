#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// A copy of a file taken before it is deleted.
struct QuarantinedFile {
    std::wstring originalPath;
    std::wstring copyPath;  // "<quarantine folder>\<SHA-1>.bin"
    std::string sha1;       // upper-case hexadecimal
    uint64_t size = 0;
};

// The quarantine folder beside the engine: one "<SHA-1>.bin" per file and a "manifest.txt" with one
// UTF-8 line per file: original path, SHA-1, size and UTC time, separated by tabs.
class QuarantineStore {
public:
    explicit QuarantineStore(const std::wstring& folder) : folder_(folder) {}

    // Copies the file in. False with the system error in `error` when it cannot be read or written.
    bool Copy(const std::wstring& path, QuarantinedFile& copy, DWORD& error);
    // Takes back a copy that will not be needed (the original stays).
    void Discard(const QuarantinedFile& copy);
    // Records the copy in the manifest, with a note such as "deleted" or "deleted at restart".
    bool Record(const QuarantinedFile& copy, const std::wstring& note);
    // Records a file that could not be copied but is moved aside at restart.
    bool RecordPendingMove(const std::wstring& path, const std::wstring& movedTo);

    const std::wstring& Folder() const { return folder_; }

private:
    bool AppendLine(const std::wstring& line);
    std::wstring folder_;
};
