#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "platform/log/Lock.h"
#include "platform/win32/KernelHandle.h"

// The unattended run's report: UTF-8 text, one record per line, each line starting with a fixed
// word (TIDEWASH, COMPUTER, OS, START, FOUND, CLEANED, QUARANTINE, SUMMARY, ERROR, END) and its
// fields separated by tabs. Lines are written as they are recorded, so that a run that is cut short
// still leaves what it saw.
//
// The report goes where it was asked to go. When that file cannot be created or a write to it fails,
// everything recorded so far, and everything after it, goes to a new file in the fallback folder
// instead (WentElsewhere() then says so). Records may come from several threads.
class ScanReport {
public:
    // `askedPath` empty: straight to the fallback folder. `fallbackFolder` is created when needed;
    // `fallbackName` is the file name there (a "-2", "-3"... is added before ".txt" if it exists).
    ScanReport(std::wstring askedPath, std::wstring fallbackFolder, std::wstring fallbackName);
    ~ScanReport();
    ScanReport(const ScanReport&) = delete;
    ScanReport& operator=(const ScanReport&) = delete;

    // `word` then each field, separated by tabs.
    void Record(const wchar_t* word, const std::vector<std::wstring>& fields);
    // `word`, a blank and `text` as it is (SUMMARY's "found=N removed=M ...").
    void RecordText(const wchar_t* word, const std::wstring& text);

    bool WentElsewhere() const { return wentElsewhere_; }
    // Where the report is being written; empty when no file could be written at all.
    std::wstring Path() const;

    // The text of one record line, without its line break: control characters (which a worm can put
    // into a service's name) become '?', so that a record never spans two lines or gains a field.
    static std::string Line(const wchar_t* word, const std::vector<std::wstring>& fields, wchar_t separator = L'\t');

private:
    void Append(const std::string& line);
    bool OpenAsked();
    bool OpenFallback();
    bool WriteAll(HANDLE file, const std::string& bytes);
    void Close();

    std::wstring askedPath_;
    std::wstring fallbackFolder_;
    std::wstring fallbackName_;
    std::wstring path_;
    KernelHandle file_;
    bool onFallback_ = false;
    bool wentElsewhere_ = false;
    std::string written_;  // everything recorded, for a move to the fallback file
    mutable CCriticalSectionLock lock_;
};
