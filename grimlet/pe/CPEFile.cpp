#include "grimlet/pe/CPEFile.h"

#include <new>
#include <set>

#include "platform/log/Lock.h"

namespace {

struct LiveSetLockTag {};

std::set<const CPEFile*>& LiveSet() {
    static std::set<const CPEFile*>* set = new std::set<const CPEFile*>();
    return *set;
}

}  // namespace

class CPEFile::FileSource final : public IPeByteSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {}
    bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& got) override {
        got = 0;
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN)) return false;
        DWORD read = 0;
        if (!ReadFile(file_, buffer, size, &read, nullptr)) return false;
        got = read;
        return true;
    }

private:
    HANDLE file_;
};

CPEFile::CPEFile(const char* path) : path_(path ? path : "") {
    CLockGuard guard(ProcessLock<LiveSetLockTag>());
    LiveSet().insert(this);
}

CPEFile::~CPEFile() {
    Close();
    CLockGuard guard(ProcessLock<LiveSetLockTag>());
    LiveSet().erase(this);
}

std::size_t CPEFile::LiveCount() {
    CLockGuard guard(ProcessLock<LiveSetLockTag>());
    return LiveSet().size();
}

void CPEFile::Close() {
    file_.Close();
    data_.reset();
}

bool CPEFile::Open() {
    Close();
    if (path_.empty()) return false;
    file_.Attach(CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_.IsValid()) return false;
    FileSource source(file_.Get());
    std::unique_ptr<PeReadWindow> window(new (std::nothrow) PeReadWindow(source));
    if (!window || !PeHeaders::Parse(*window, headers_)) {
        Close();
        return false;
    }
    return true;
}

bool CPEFile::Seek(uint32_t fileOffset) {
    if (!file_.IsValid()) return false;
    LARGE_INTEGER to;
    to.QuadPart = fileOffset;
    return SetFilePointerEx(file_.Get(), to, nullptr, FILE_BEGIN) != FALSE;
}

const uint8_t* CPEFile::Read(uint32_t count, uint32_t& bytesRead) {
    bytesRead = 0;
    data_.reset();
    if (!file_.IsValid() || count == 0) return nullptr;
    data_.reset(new (std::nothrow) uint8_t[count]);
    if (!data_) return nullptr;
    DWORD read = 0;
    if (!ReadFile(file_.Get(), data_.get(), count, &read, nullptr) || read == 0) {
        data_.reset();
        return nullptr;
    }
    bytesRead = read;
    return data_.get();
}
