#include "grimlet/mendrel/ServiceStopper.h"

#include <windows.h>

#include "platform/log/Logger.h"
#include "platform/win32/ServiceHandle.h"

static const wchar_t kLogSource[] = L"RunMendrel";

namespace {

constexpr DWORD kStopWaitMs = 20000;

bool Stop(SC_HANDLE service, const std::wstring& serviceName) {
    SERVICE_STATUS status = {};
    bool stopped = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
    if (!stopped) {
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status))
            TW_LOG(LogLevel::Warning, "ControlService(%S, stop) Error=%d", serviceName.c_str(), (int)GetLastError());
        DWORD start = GetTickCount();
        while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
               GetTickCount() - start < kStopWaitMs)
            Sleep(250);
        stopped = status.dwCurrentState == SERVICE_STOPPED;
        TW_LOG(stopped ? LogLevel::Info : LogLevel::Error, "Service %S %s", serviceName.c_str(),
               stopped ? "stopped" : "did not stop");
    }
    return stopped;
}

// Runs `act` on the service opened with `access`; a service the manager does not know is simply not
// running, and a manager that cannot be reached has none to stop.
template <typename Act>
bool WithService(const std::wstring& serviceName, DWORD access, Act act) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Get()) {
        TW_LOG(LogLevel::Warning, "OpenSCManagerW Error=%d", (int)GetLastError());
        return true;
    }
    ServiceHandle service(OpenServiceW(manager.Get(), serviceName.c_str(), access));
    if (!service.Get()) {
        TW_LOG(LogLevel::Detail, "OpenServiceW(%S) Error=%d", serviceName.c_str(), (int)GetLastError());
        return true;
    }
    return act(service.Get());
}

}  // namespace

bool StopService(const std::wstring& serviceName, bool& wasRunning) {
    wasRunning = false;
    return WithService(serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS, [&](SC_HANDLE service) {
        SERVICE_STATUS status = {};
        wasRunning = QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
        return Stop(service, serviceName);
    });
}

void StartServiceAgain(const std::wstring& serviceName) {
    WithService(serviceName, SERVICE_START, [&](SC_HANDLE service) {
        if (!StartServiceW(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
            TW_LOG(LogLevel::Warning, "StartServiceW(%S) Error=%d", serviceName.c_str(), (int)GetLastError());
        return true;
    });
}

StoppedServices::~StoppedServices() {
    for (const std::wstring& name : names_) {
        TW_LOG(LogLevel::Info, "Service %S was stopped for nothing; started again", name.c_str());
        StartServiceAgain(name);
    }
}

void StoppedServices::Stop(const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) {
        bool wasRunning = false;
        StopService(name, wasRunning);
        if (wasRunning) names_.push_back(name);
    }
}

bool StopAndUnregisterService(const std::wstring& serviceName) {
    return WithService(serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE, [&](SC_HANDLE service) {
        bool stopped = Stop(service, serviceName);
        if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            TW_LOG(LogLevel::Warning, "DeleteService(%S) Error=%d", serviceName.c_str(), (int)GetLastError());
        return stopped;
    });
}
