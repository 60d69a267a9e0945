#include "platform/log/Logger.h"

#include <cstdio>
#include <cstring>

#include "platform/log/Lock.h"
#include "platform/win32/KernelHandle.h"
#include "platform/win32/RegistryKey.h"

namespace {

// {FDAF6C10-8530-4E23-9D28-715CB763768E}
const GUID kControlGuid = {0xFDAF6C10, 0x8530, 0x4E23, {0x9D, 0x28, 0x71, 0x5C, 0xB7, 0x63, 0x76, 0x8E}};
// {D3DD533F-9B62-4E78-8747-AAC84E75F5D0}
const GUID kTraceClassGuid = {0xD3DD533F, 0x9B62, 0x4E78, {0x87, 0x47, 0xAA, 0xC8, 0x4E, 0x75, 0xF5, 0xD0}};

constexpr char kRegistryKey[] = "SOFTWARE\\Quorvel\\Skerry";

struct FileLockTag {};

Logger* g_current = nullptr;
volatile LONG g_sequence = 0;  // only the low 16 bits count

// Event-trace state, written by the system's control thread and read without a lock.
TRACEHANDLE g_registration = 0;
volatile LONG g_traceEnabled = 0;
TRACEHANDLE g_session = 0;

#pragma pack(push, 8)
struct TraceRecord {
    EVENT_TRACE_HEADER header;
    ULONG length;
    char text[logline::kBufferSize];
};
#pragma pack(pop)
static_assert(sizeof(TraceRecord) == 4152, "event-trace record layout");

uint32_t ReadConfiguredMask() {
    RegistryKey opened;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_READ, opened.Receive()) != ERROR_SUCCESS) return 0;
    const HKEY key = opened.Get();
    uint32_t mask = 0;
    DWORD type = 0;
    if (RegQueryValueExA(key, "DebugLevel", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS && type == REG_DWORD) {
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegQueryValueExA(key, "DebugLevel", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof value) {
            mask = value;
        }
    }
    return mask;
}


class LastErrorKeeper {
public:
    LastErrorKeeper() : saved_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(saved_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD saved_;
};

}  // namespace

Logger::Logger(const char* fileName, LogFileStart start) {
    uint32_t mask = ReadConfiguredMask();

    char executable[MAX_PATH] = {};
    DWORD got = GetModuleFileNameA(nullptr, executable, MAX_PATH);
    if (got == 0 || got >= MAX_PATH) executable[0] = '\0';  // cut short: no usable folder

    g_current = this;
    current_ = true;
    mask_ = mask;
    BuildFilePath(executable, fileName, path_);

    if (path_[0] != '\0' && start == LogFileStart::Replace) DeleteFileA(path_);

    if (mask_ & logline::kToEventTrace) RegisterEventTrace();

    if (!(mask_ & logline::kProgramCategory)) return;
    if (start == LogFileStart::Replace) {
        Write(L"", mask_, 0, "===== [%s.%s.%s][%s] LOG START =====", "1.60", "0", "1000", path_);
    } else {
        // Runs follow each other in one file: each says which command it was.
        Write(L"", mask_, 0, "===== [%s.%s.%s][%s] LOG START ===== %S", "1.60", "0", "1000", path_, GetCommandLineW());
    }
}

Logger::Logger(SilentTag) {}

bool Logger::BuildFilePath(const char* executablePath, const char* fileName, char (&path)[MAX_PATH]) {
    path[0] = '\0';
    const char* lastSlash = executablePath ? strrchr(executablePath, '\\') : nullptr;
    if (!lastSlash || !fileName) return false;
    // A path cut to fit would name another file - or, with nothing left of the folder, the root of the
    // current drive. Such a log is not written, and no file is deleted for it.
    const std::size_t folderLength = static_cast<std::size_t>(lastSlash - executablePath);
    const std::size_t nameLength = strlen(fileName);
    if (strlen(executablePath) >= MAX_PATH || folderLength + 1 + nameLength >= MAX_PATH) return false;
    memcpy(path, executablePath, folderLength + 1);  // the folder with its backslash
    memcpy(path + folderLength + 1, fileName, nameLength + 1);
    return true;
}

Logger::~Logger() {
    if (!current_) return;
    if (g_current == this) g_current = nullptr;
    if (g_registration != 0) {
        UnregisterTraceGuids(g_registration);
        g_registration = 0;
        InterlockedExchange(&g_traceEnabled, 0);
    }
}

Logger& Logger::Instance() {
    if (g_current) return *g_current;
    // Calls before set-up or after tear-down get a silent logger that lives until the process ends.
    static Logger* silent = new Logger(SilentTag{});
    g_current = silent;
    return *silent;
}

ULONG WINAPI Logger::TraceControl(WMIDPREQUESTCODE requestCode, void*, ULONG*, void* buffer) {
    if (requestCode == WMI_ENABLE_EVENTS) {
        g_session = GetTraceLoggerHandle(buffer);
        InterlockedExchange(&g_traceEnabled, 1);
    } else if (requestCode == WMI_DISABLE_EVENTS) {
        InterlockedExchange(&g_traceEnabled, 0);
        g_session = 0;
    }
    return ERROR_SUCCESS;
}

void Logger::SetSequenceCounter(uint16_t value) { InterlockedExchange(&g_sequence, value); }

void Logger::RegisterEventTrace() {
    TRACE_GUID_REGISTRATION classGuid = {&kTraceClassGuid, nullptr};
    TRACEHANDLE handle = 0;
    ULONG status = RegisterTraceGuidsW(TraceControl, nullptr, &kControlGuid, 1, &classGuid, nullptr,
                                       nullptr, &handle);
    if (status == ERROR_SUCCESS) g_registration = handle;
}

void Logger::Write(const wchar_t* source, uint32_t level, int line, const char* format, ...) {
    if (!logline::Passes(mask_, level)) return;
    va_list args;
    va_start(args, format);
    WriteV(source, level, line, format, args);
    va_end(args);
}

void Logger::WriteV(const wchar_t* source, uint32_t level, int line, const char* format, va_list args) {
    if (!logline::Passes(mask_, level)) return;
    // Callers log a failure and then report GetLastError(); writing the line must not change it.
    LastErrorKeeper keepLastError;
    WriteLine(source, level, line, format, args);
}

void Logger::WriteLine(const wchar_t* source, uint32_t level, int line, const char* format, va_list args) {

    if ((mask_ & logline::kToEventTrace) && g_traceEnabled) {
        WriteToEventTrace(level, format, args);
        return;
    }

    SYSTEMTIME now;
    GetLocalTime(&now);
    logline::LinePrefix prefix;
    prefix.processId = GetCurrentProcessId();
    prefix.threadId = GetCurrentThreadId();
    prefix.month = now.wMonth;
    prefix.day = now.wDay;
    prefix.hour = now.wHour;
    prefix.minute = now.wMinute;
    prefix.second = now.wSecond;
    prefix.millisecond = now.wMilliseconds;
    prefix.sequence = static_cast<unsigned>(InterlockedExchangeAdd(&g_sequence, 1)) & 0xFFFF;
    prefix.letter = logline::LevelLetter(level);

    // The source name goes in through the C runtime's conversion, like every "%S" argument.
    char sourceText[300];
    char emptyText[1] = {0};
    char* sourceArg = emptyText;
    if (source && *source) {
        _snprintf(sourceText, sizeof sourceText - 1, "%S", source);
        sourceText[sizeof sourceText - 1] = '\0';
        sourceArg = sourceText;
    }

    char buffer[logline::kBufferSize];
    std::size_t length = logline::BuildLine(buffer, prefix, sourceArg, line, format, args);

    if (mask_ & logline::kToFile) WriteToFile(buffer, length);
    if (mask_ & logline::kToDebugger) OutputDebugStringA(buffer);
}

bool Logger::IsOwnLogFile(DWORD fileType, const BY_HANDLE_FILE_INFORMATION& information, DWORD listedAttributes) {
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return fileType == FILE_TYPE_DISK && !(information.dwFileAttributes & notPlain) &&
           listedAttributes != INVALID_FILE_ATTRIBUTES && !(listedAttributes & notPlain) &&
           information.nNumberOfLinks == 1;
}

void Logger::WriteToFile(const char* line, std::size_t length) {
    if (path_[0] == '\0') return;
    CLockGuard guard(ProcessLock<FileLockTag>());
    AppendBytes(path_, line, length);
}

void Logger::AppendToFile(const char* path, const std::string& text, bool replace) {
    CLockGuard guard(ProcessLock<FileLockTag>());
    if (replace) DeleteFileA(path);
    if (!text.empty()) AppendBytes(path, text.data(), text.size());
}

void Logger::AppendBytes(const char* path, const char* line, std::size_t length) {
    // A link at the log's name is opened as itself and refused, never followed; a file with a second
    // name is somebody else's file too. The folder's listing is asked as well, since a system may follow
    // a link in spite of the flag (Wine, for a Unix symbolic link) but still lists it as one.
    KernelHandle file(CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid()) return;
    BY_HANDLE_FILE_INFORMATION information;
    WIN32_FIND_DATAA listed;
    HANDLE search = FindFirstFileA(path, &listed);
    if (search == INVALID_HANDLE_VALUE) return;
    FindClose(search);
    if (!GetFileInformationByHandle(file.Get(), &information) ||
        !IsOwnLogFile(GetFileType(file.Get()), information, listed.dwFileAttributes))
        return;
    SetFilePointer(file.Get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file.Get(), line, static_cast<DWORD>(length), &written, nullptr);
}

bool Logger::BuildTraceRecord(uint32_t level, const char* message, unsigned char (&bytes)[4152]) {
    memset(bytes, 0, sizeof bytes);
    std::size_t n = strlen(message);
    if (n >= logline::kBufferSize - 2) return false;  // 4094 characters or more are dropped
    TraceRecord* record = reinterpret_cast<TraceRecord*>(bytes);
    record->header.Size = sizeof(TraceRecord);
    record->header.Flags = WNODE_FLAG_TRACED_GUID;
    record->header.Class.Type = static_cast<UCHAR>(level & 0xFF);
    record->header.Guid = kTraceClassGuid;
    record->length = static_cast<ULONG>(n);
    // The count covers the text with its NUL, which takes the place of the last character.
    if (n > 0) {
        memcpy(record->text, message, n - 1);
        record->text[n - 1] = '\0';
    }
    return true;
}

void Logger::WriteToEventTrace(uint32_t level, const char* format, va_list args) {
    char message[logline::kBufferSize];
    int n = logline::FormatBounded(message, sizeof message, format, args);
    if (n < 0) return;
    alignas(8) unsigned char record[4152];
    if (!BuildTraceRecord(level, message, record)) return;
    TraceEvent(g_session, reinterpret_cast<EVENT_TRACE_HEADER*>(record));
}
