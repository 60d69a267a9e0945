#include "platform/system/DeviceProfile.h"

#include <winioctl.h>

#include <map>

#include "platform/log/Lock.h"
#include "platform/log/Logger.h"
#include "platform/win32/KernelHandle.h"

static const wchar_t kLogSource[] = L"Environment";

SKDeviceProfile::SKDeviceProfile(const std::wstring& root) : root_(root) {
    driveType_ = GetDriveTypeW(root_.c_str());
    writable_ = DecideWritable(driveType_, [this] { return checkRemovableDeviceWrittable(); });
}

bool SKDeviceProfile::checkRemovableDeviceWrittable() const {
    std::wstring device = L"\\\\.\\" + root_;
    KernelHandle handle(CreateFileW(device.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle.IsValid()) {
        const DWORD error = GetLastError();
        TW_LOG(LogLevel::Error, "SKDeviceProfile::checkRemovableDeviceWrittable() Error=%d", static_cast<int>(error));
        return AnswerMeansWritable(false, error);
    }
    DWORD returned = 0;
    const bool answered =
        DeviceIoControl(handle.Get(), IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0, &returned, nullptr) != FALSE;
    return AnswerMeansWritable(answered, answered ? ERROR_SUCCESS : GetLastError());
}

namespace {

struct DeviceCacheTag {};

std::map<std::wstring, SKDeviceProfile>& DeviceCache() {
    static auto* cache = new std::map<std::wstring, SKDeviceProfile>();
    return *cache;
}

}  // namespace

bool IsDriveWritable(const std::wstring& root) {
    // Lookups and fills both go under the lock: a std::map may not be read while another thread inserts.
    CLockGuard guard(ProcessLock<DeviceCacheTag>());
    auto& cache = DeviceCache();
    auto found = cache.find(root);
    if (found == cache.end()) found = cache.emplace(root, SKDeviceProfile(root)).first;
    return found->second.Writable();
}
