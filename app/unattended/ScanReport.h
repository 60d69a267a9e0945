#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/log/Lock.h"
#include "platform/security/ProtectedDataFolder.h"
#include "platform/win32/KernelHandle.h"

// The unattended run's report: UTF-8 text, one record per line, each line starting with a fixed
// word (TIDEWASH, COMPUTER, OS, START, FOUND, CLEANED, QUARANTINE, SUMMARY, ERROR, END) and its
// fields separated by tabs. Lines are written as they are recorded, so that a run that is cut short
// still leaves what it saw.
//
// The report goes where it was asked to go. On a local path every folder of it is opened from the
// drive's root through its parent's handle, never following a link (ProtectedDataFolder::OpenExisting).
// The file there is opened without following a link and
// truncated only once its handle shows a plain disk file with one name: a link, a second hard link, a
// folder, a pipe or a device is never written through. When that file cannot be used or a write to it
// fails, everything recorded so far, and everything after it, goes to a new file in the fallback folder
// instead (WentElsewhere() then says so). Records may come from several threads.
class ScanReport {
public:
    // Opens the fallback folder (checked and protected) when it is needed; returns null or a folder that
    // is not open when there is none.
    using FallbackFolder = std::function<std::unique_ptr<ProtectedDataFolder>()>;

    // `askedPath` empty: straight to the fallback folder. `fallbackName` is the file name there (a "-2",
    // "-3"... is added before ".txt" if it exists).
    ScanReport(std::wstring askedPath, FallbackFolder fallbackFolder, std::wstring fallbackName);
    ~ScanReport();
    ScanReport(const ScanReport&) = delete;
    ScanReport& operator=(const ScanReport&) = delete;

    // `word` then each field, separated by tabs.
    void Record(const wchar_t* word, const std::vector<std::wstring>& fields);
    // `word`, a blank and `text` as it is (SUMMARY's "found=N removed=M ...").
    void RecordText(const wchar_t* word, const std::wstring& text);

    // The report is not where it was asked to go (it went to the fallback folder, or nowhere).
    bool WentElsewhere() const { return wentElsewhere_; }
    // Records were lost: no file, neither the asked one nor one in the fallback folder, holds them all.
    bool Lost() const;
    // Where the report is being written; empty when no file could be written at all.
    std::wstring Path() const;

    // The text of one record line, without its line break: control characters (which a worm can put
    // into a service's name) become '?', so that a record never spans two lines or gains a field.
    static std::string Line(const wchar_t* word, const std::vector<std::wstring>& fields, wchar_t separator = L'\t');

    // A file that a report may be written over: on a disk, not a folder or a link, and one name only (a
    // second hard link would be someone else's file written through this name).
    static bool IsPlainFile(DWORD fileType, const BY_HANDLE_FILE_INFORMATION& information);

private:
    void Append(const std::string& line);
    bool OpenAsked();
    KernelHandle OpenAskedFile();
    // `path` made full against the current directory, as "C:\\..." (a "\\\\?\\" prefix taken off);
    // empty when it names no local file.
    static std::wstring FullLocalPath(const std::wstring& path);
    bool OpenFallback();
    bool WriteAll(HANDLE file, const std::string& bytes);
    void Close();

    std::wstring askedPath_;
    FallbackFolder openFallbackFolder_;
    std::unique_ptr<ProtectedDataFolder> askedFolder_;  // held while the asked file is in use
    std::unique_ptr<ProtectedDataFolder> fallbackFolder_;
    std::wstring fallbackName_;
    std::wstring path_;
    KernelHandle file_;
    bool onFallback_ = false;
    bool wentElsewhere_ = false;
    bool lost_ = false;
    std::string written_;  // everything recorded, for a move to the fallback file
    mutable CCriticalSectionLock lock_;
};
