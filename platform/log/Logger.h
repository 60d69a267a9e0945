#pragma once
#include <string>
#include <windows.h>
#include <wmistr.h>
#include <evntrace.h>

#include <cstdint>

#include "platform/log/LogLine.h"

// Message words of the program: category bit 25 and one level bit.
namespace LogLevel {
constexpr uint32_t Critical = 0x02000001;
constexpr uint32_t Error = 0x02000002;
constexpr uint32_t Warning = 0x02000004;
constexpr uint32_t Info = 0x02000008;
constexpr uint32_t Enter = 0x02000010;
constexpr uint32_t Leave = 0x02000020;
constexpr uint32_t Detail = 0x02000040;
}  // namespace LogLevel

// Whether a new run of a program keeps the log lines of the runs before it.
enum class LogFileStart { Replace, Append };

// The process-wide diagnostic log. Off unless HKLM\SOFTWARE\Quorvel\Skerry "DebugLevel" (REG_DWORD)
// turns it on; lines go to a file next to the executable, the debugger and/or an event-trace session.
class Logger {
public:
    // Reads the configuration, deletes the previous log file (or, with Append, adds to it and names
    // the process's command line in the start line), and becomes the current instance. `fileName` is
    // the log file's name beside the executable.
    explicit Logger(const char* fileName = "qvcleantool.log", LogFileStart start = LogFileStart::Replace);
    // Tear-down: stops being the current instance and removes the event-trace registration.
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // The current instance; a silent one when none is set up.
    static Logger& Instance();

    void Write(const wchar_t* source, uint32_t level, int line, const char* format, ...);
    void WriteV(const wchar_t* source, uint32_t level, int line, const char* format, va_list args);
    // `text` added to the file at `path` with the same care as a log line (no link followed, no file
    // with a second name); `replace` removes what was there first (a link as itself).
    static void AppendToFile(const char* path, const std::string& text, bool replace);

    uint32_t Mask() const { return mask_; }
    const char* Path() const { return path_; }

    // The 4152-byte event-trace record of one message (the layout a trace consumer decodes).
    // Returns false when the message is dropped (formatting failed or 4094 characters or more).
    static bool BuildTraceRecord(uint32_t level, const char* message, unsigned char (&record)[4152]);

    // The provider's control callback, run by the system's event-trace control thread when a trace
    // session enables or disables the provider. Returns success for every request.
    static ULONG WINAPI TraceControl(WMIDPREQUESTCODE requestCode, void* context, ULONG* bufferSize, void* buffer);

    // The log file's path: `fileName` in the folder of `executablePath`. False, with an empty path (no log
    // file), when the executable's path has no folder or either path does not fit in MAX_PATH.
    static bool BuildFilePath(const char* executablePath, const char* fileName, char (&path)[MAX_PATH]);

    // A log file that lines may be appended to: a plain disk file with one name, which neither its handle
    // nor its folder's listing (`listedAttributes`) shows as a link or a folder.
    static bool IsOwnLogFile(DWORD fileType, const BY_HANDLE_FILE_INFORMATION& information, DWORD listedAttributes);

    // Diagnostics only: the line sequence counter, so that its wrap can be observed.
    static void SetSequenceCounter(uint16_t value);

private:
    struct SilentTag {};
    explicit Logger(SilentTag);
    void RegisterEventTrace();
    void WriteLine(const wchar_t* source, uint32_t level, int line, const char* format, va_list args);
    void WriteToFile(const char* line, std::size_t length);
    static void AppendBytes(const char* path, const char* line, std::size_t length);
    void WriteToEventTrace(uint32_t level, const char* format, va_list args);

    uint32_t mask_ = 0;
    char path_[MAX_PATH] = {};
    bool current_ = false;
};

// Enter/Leave lines around a traced operation.
class LogScope {
public:
    LogScope(const wchar_t* source, int line, const char* text) : source_(source), line_(line), text_(text) {
        Logger::Instance().Write(source_, LogLevel::Enter, line_, "%s", text_);
    }
    ~LogScope() { Logger::Instance().Write(source_, LogLevel::Leave, line_, "%s", text_); }
    LogScope(const LogScope&) = delete;
    LogScope& operator=(const LogScope&) = delete;

private:
    const wchar_t* source_;
    int line_;
    const char* text_;
};

// Each source file names itself once: static const wchar_t kLogSource[] = L"PackageManager";
#define TW_LOG(level, ...) ::Logger::Instance().Write(kLogSource, (level), __LINE__, __VA_ARGS__)
// A line whose suffix carries a fixed number instead of the caller's source line: tools that read the log
// look for those exact suffixes, and the number must not move when the source around the call does.
#define TW_LOG_AT(line, level, ...) ::Logger::Instance().Write(kLogSource, (level), (line), __VA_ARGS__)
#define TW_LOG_SCOPE(text) ::LogScope twLogScope_(kLogSource, __LINE__, (text))
