#include "grimlet/mendrel/ServiceStopper.h"

#include <windows.h>

#include "platform/log/Logger.h"
#include "platform/win32/ServiceHandle.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

constexpr DWORD kStopWaitMs = 20000;

}  // namespace

bool StopAndUnregisterService(const std::wstring& serviceName) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Get()) {
        TW_LOG(LogLevel::Warning, "OpenSCManagerW Error=%d", (int)GetLastError());
        return true;
    }
    ServiceHandle service(OpenServiceW(manager.Get(), serviceName.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service.Get()) {
        TW_LOG(LogLevel::Detail, "OpenServiceW(%S) Error=%d", serviceName.c_str(), (int)GetLastError());
        return true;
    }
    SERVICE_STATUS status = {};
    bool stopped = QueryServiceStatus(service.Get(), &status) && status.dwCurrentState == SERVICE_STOPPED;
    if (!stopped) {
        if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status))
            TW_LOG(LogLevel::Warning, "ControlService(%S, stop) Error=%d", serviceName.c_str(), (int)GetLastError());
        DWORD start = GetTickCount();
        while (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED &&
               GetTickCount() - start < kStopWaitMs)
            Sleep(250);
        stopped = status.dwCurrentState == SERVICE_STOPPED;
        TW_LOG(stopped ? LogLevel::Info : LogLevel::Error, "Service %S %s", serviceName.c_str(),
               stopped ? "stopped" : "did not stop");
    }
    if (!DeleteService(service.Get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        TW_LOG(LogLevel::Warning, "DeleteService(%S) Error=%d", serviceName.c_str(), (int)GetLastError());
    return stopped;
}
