#pragma once
#include <windows.h>

#include <string>

// Where the tool works (base, pattern, profile and log folders) and the one place that prepares the
// process for scanning and cleaning. One per process. Setup/Teardown nest: only the outermost pair
// does the work.
class SKEnvironment {
public:
    static SKEnvironment* Instance();

    // Sets the locale, settles the folders, creates the log folder and the access layer. Never fails:
    // problems are logged and skipped. Returns 1.
    int Setup();
    // Balances one Setup. The last one deregisters from the maker's filter driver and drops the access
    // layer (the next use creates it again). An unbalanced call does nothing.
    void Teardown();

    // Enables one privilege ("SeBackupPrivilege", ...) in the process token.
    bool SetPrivilege(const wchar_t* name);

    // The folders keep their storage between Setup and Teardown: the plug-in runtime hands out pointers
    // into it.
    const std::wstring& BaseFolder() const { return baseFolder_; }
    const std::wstring& PatternFolder() const { return patternFolder_; }
    const std::wstring& ProfileFolder() const { return profileFolder_; }
    const std::wstring& LogFolder() const { return logFolder_; }
    const std::wstring& ExtraFolder() const { return extraFolder_; }
    DWORD LowLevelMode() const { return lowLevelMode_; }
    int SetupCount() const { return setupCount_; }

    // A folder given before Setup is kept by it (the profile folder is always derived from the base).
    void SetBaseFolder(const std::wstring& folder) { baseFolder_ = folder; }
    void SetPatternFolder(const std::wstring& folder) { patternFolder_ = folder; }
    void SetLogFolder(const std::wstring& folder) { logFolder_ = folder; }

    SKEnvironment(const SKEnvironment&) = delete;
    SKEnvironment& operator=(const SKEnvironment&) = delete;

private:
    SKEnvironment() = default;
    void SettleFolders();

    DWORD modeRequested_ = 0;
    DWORD lowLevelMode_ = 0;
    std::wstring baseFolder_;
    std::wstring patternFolder_;
    std::wstring profileFolder_;
    std::wstring logFolder_;
    std::wstring extraFolder_;
    int setupCount_ = 0;
};
