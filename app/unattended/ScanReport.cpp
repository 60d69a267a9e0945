#include "app/unattended/ScanReport.h"

#include <cstdio>

#include "platform/system/FileUtility.h"
#include "platform/system/Utf8.h"

namespace {

const char kLineBreak[] = "\r\n";

std::wstring Printable(const std::wstring& text) {
    std::wstring out(text);
    for (wchar_t& c : out)
        if (c < 0x20 || c == 0x7F) c = L'?';
    return out;
}

std::wstring NumberedName(const std::wstring& name, int number) {
    if (number <= 1) return name;
    const std::wstring suffix = L"-" + std::to_wstring(number);
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

}  // namespace

ScanReport::ScanReport(std::wstring askedPath, FallbackFolder fallbackFolder, std::wstring fallbackName)
    : askedPath_(std::move(askedPath)),
      openFallbackFolder_(std::move(fallbackFolder)),
      fallbackName_(std::move(fallbackName)) {
    // Opened now, while the current directory is still the caller's: a relative path means what the
    // caller meant by it.
    if (askedPath_.empty() || !OpenAsked()) {
        wentElsewhere_ = !askedPath_.empty();
        if (!OpenFallback()) lost_ = true;
    }
}

ScanReport::~ScanReport() { Close(); }

void ScanReport::Record(const wchar_t* word, const std::vector<std::wstring>& fields) { Append(Line(word, fields)); }

void ScanReport::RecordText(const wchar_t* word, const std::wstring& text) { Append(Line(word, {text}, L' ')); }

bool ScanReport::Lost() const {
    CLockGuard guard(lock_);
    return lost_ || !file_.IsValid();
}

std::wstring ScanReport::Path() const {
    CLockGuard guard(lock_);
    return path_;
}

std::string ScanReport::Line(const wchar_t* word, const std::vector<std::wstring>& fields, wchar_t separator) {
    std::wstring line(word);
    for (const std::wstring& field : fields) {
        line += separator;
        line += Printable(field);
    }
    return Utf8FromWide(line);
}

void ScanReport::Append(const std::string& line) {
    CLockGuard guard(lock_);
    const std::string bytes = line + kLineBreak;
    written_ += bytes;
    if (file_.IsValid() && WriteAll(file_.Get(), bytes)) return;
    if (onFallback_) {
        lost_ = true;  // nowhere else to go; the record is kept for nothing
        return;
    }
    // The asked file broke off (a share went away): the whole report moves to the fallback file.
    Close();
    wentElsewhere_ = true;
    if (!OpenFallback() || !WriteAll(file_.Get(), written_)) lost_ = true;
}

bool ScanReport::OpenAsked() {
    // OPEN_ALWAYS, not CREATE_ALWAYS: nothing is truncated before the handle has been looked at.
    KernelHandle file = OpenAskedFile();
    if (!file.IsValid()) return false;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file.Get(), &information) || !IsPlainFile(GetFileType(file.Get()), information))
        return false;
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file.Get())) return false;
    file_ = std::move(file);
    path_ = askedPath_;
    return true;
}

KernelHandle ScanReport::OpenAskedFile() {
    // On a share the server resolves the folders: only the last name can be checked.
    if (askedPath_.compare(0, 2, L"\\\\") == 0 && askedPath_.compare(0, 4, L"\\\\?\\") != 0)
        return KernelHandle(CreateFileW(askedPath_.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
    // A local path: every folder of it is opened through its parent's handle, none followed as a link.
    const std::wstring full = FullLocalPath(askedPath_);
    const std::size_t slash = full.rfind(L'\\');
    if (full.empty() || slash == std::wstring::npos || slash + 1 == full.size()) return KernelHandle();
    askedFolder_ = ProtectedDataFolder::OpenExisting(slash == 2 ? full.substr(0, 3) : full.substr(0, slash));
    if (!askedFolder_->IsOpen()) return KernelHandle();
    DWORD error = 0;
    return ProtectedDataFolder::OpenFileInside(askedFolder_->Handle(), full.substr(slash + 1), error);
}

std::wstring ScanReport::FullLocalPath(const std::wstring& path) {
    std::wstring full = GetFullPath(path);
    if (full.compare(0, 4, L"\\\\?\\") == 0) full.erase(0, 4);
    if (full.size() < 3 || full[1] != L':' || full[2] != L'\\') return std::wstring();
    return full;
}

bool ScanReport::IsPlainFile(DWORD fileType, const BY_HANDLE_FILE_INFORMATION& information) {
    return fileType == FILE_TYPE_DISK &&
           !(information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           information.nNumberOfLinks == 1;
}

bool ScanReport::OpenFallback() {
    onFallback_ = true;
    path_.clear();
    if (!openFallbackFolder_) return false;
    fallbackFolder_ = openFallbackFolder_();
    if (!fallbackFolder_ || !fallbackFolder_->IsOpen()) return false;
    // The folder is held open and only Administrators and SYSTEM may add to it: a name inside it stays
    // what CREATE_NEW made it.
    for (int number = 1; number < 1000; ++number) {
        const std::wstring path = fallbackFolder_->Path() + L"\\" + NumberedName(fallbackName_, number);
        // CREATE_NEW: one file per run, never someone else's report overwritten.
        file_.Attach(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_.IsValid()) {
            path_ = path;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool ScanReport::WriteAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done);
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

void ScanReport::Close() { file_.Close(); }
