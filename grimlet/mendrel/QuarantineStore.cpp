#include "grimlet/mendrel/QuarantineStore.h"

#include <cstdio>
#include <vector>

#include "grimlet/FileSystemRedirectionGuard.h"
#include "grimlet/mendrel/Sha1.h"
#include "platform/Logger.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    void Close() {
        if (IsValid()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring UtcTimeText() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t text[32];
    _snwprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
               now.wSecond);
    text[31] = L'\0';
    return text;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

bool QuarantineStore::Copy(const std::wstring& path, QuarantinedFile& copy, DWORD& error) {
    error = ERROR_SUCCESS;
    if (!CreateDirectoryW(folder_.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        error = GetLastError();
        TW_LOG(LogLevel::Error, "CreateDirectory(%S) Error=%d", folder_.c_str(), (int)error);
        return false;
    }
    HANDLE sourceHandle;
    {
        FileSystemRedirectionGuard redirection;
        sourceHandle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (sourceHandle == INVALID_HANDLE_VALUE) error = GetLastError();
    }
    FileHandle source(sourceHandle);
    if (!source.IsValid()) {
        TW_LOG(LogLevel::Error, "CreateFileW(%S) for quarantine Error=%d", path.c_str(), (int)error);
        return false;
    }
    wchar_t pendingName[64];
    _snwprintf(pendingName, 64, L"\\pending-%lu-%lu.tmp", GetCurrentProcessId(), GetTickCount());
    pendingName[63] = L'\0';
    std::wstring pendingPath = folder_ + pendingName;
    FileHandle target(CreateFileW(pendingPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!target.IsValid()) {
        error = GetLastError();
        TW_LOG(LogLevel::Error, "CreateFileW(%S) Error=%d", pendingPath.c_str(), (int)error);
        return false;
    }
    Sha1 hash;
    uint64_t size = 0;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
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
    copy.sha1 = hash.HexDigest();
    copy.size = size;
    copy.copyPath = folder_ + L"\\" + Widen(copy.sha1) + L".bin";
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
    if (!copy.copyPath.empty()) DeleteFileW(copy.copyPath.c_str());
}

bool QuarantineStore::Record(const QuarantinedFile& copy, const std::wstring& note) {
    return AppendLine(copy.originalPath + L"\t" + Widen(copy.sha1) + L"\t" + std::to_wstring(copy.size) + L"\t" + UtcTimeText() + L"\t" + note);
}

bool QuarantineStore::RecordPendingMove(const std::wstring& path, const std::wstring& movedTo) {
    return AppendLine(path + L"\t-\t-\t" + UtcTimeText() + L"\tunreadable; moved at restart to " + movedTo);
}

bool QuarantineStore::AppendLine(const std::wstring& line) {
    std::wstring manifest = folder_ + L"\\manifest.txt";
    FileHandle file(CreateFileW(manifest.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (!file.IsValid()) {
        TW_LOG(LogLevel::Error, "CreateFileW(%S) Error=%d", manifest.c_str(), (int)GetLastError());
        return false;
    }
    std::string bytes = Utf8(line) + "\r\n";
    DWORD written = 0;
    bool ok = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    if (!ok) TW_LOG(LogLevel::Error, "WriteFile(%S) Error=%d", manifest.c_str(), (int)GetLastError());
    return ok;
}
