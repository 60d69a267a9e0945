#pragma once
// The prefix's Task Scheduler service ("Schedule") as a test found it: Wine starts it at the first call
// of its interfaces and makes it start with every later session once a task is registered, which adds
// an svchost.exe -k netsvcs that the worm-thread tests would search. Put back at scope end: its start
// type as it was, and stopped when it was not running (Wine's accepts no stop request: there it runs
// on until the session ends, inside Wine's own svchost.exe -k netsvcs).
#include <windows.h>

#include "platform/win32/ServiceHandle.h"

namespace testsupport {

class TaskSchedulerState {
public:
    TaskSchedulerState() {
        manager_.Attach(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (manager_.IsValid())
            service_.Attach(OpenServiceW(manager_.Get(), L"Schedule",
                                         SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_STOP));
        SERVICE_STATUS status = {};
        running_ = service_.IsValid() && QueryServiceStatus(service_.Get(), &status) &&
                   status.dwCurrentState != SERVICE_STOPPED;
        startType_ = StartType();
    }
    ~TaskSchedulerState() {
        if (!service_.IsValid()) return;
        if (startType_ != 0 && StartType() != startType_)
            ChangeServiceConfigW(service_.Get(), SERVICE_NO_CHANGE, startType_, SERVICE_NO_CHANGE, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr);
        if (running_) return;
        SERVICE_STATUS status = {};
        ControlService(service_.Get(), SERVICE_CONTROL_STOP, &status);
        for (int wait = 0; wait < 100 && QueryServiceStatus(service_.Get(), &status) &&
                           status.dwCurrentState != SERVICE_STOPPED;
             ++wait)
            Sleep(50);
    }
    TaskSchedulerState(const TaskSchedulerState&) = delete;
    TaskSchedulerState& operator=(const TaskSchedulerState&) = delete;

private:
    DWORD StartType() const {
        union {
            QUERY_SERVICE_CONFIGW config;
            BYTE bytes[8192];
        } buffer;
        DWORD needed = 0;
        return QueryServiceConfigW(service_.Get(), &buffer.config, sizeof buffer, &needed) ? buffer.config.dwStartType : 0;
    }

    ServiceHandle manager_;
    ServiceHandle service_;
    bool running_ = false;
    DWORD startType_ = 0;
};

}  // namespace testsupport
