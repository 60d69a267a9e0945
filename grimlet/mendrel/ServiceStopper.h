#pragma once
#include <string>
#include <vector>

// Asks the service control manager to stop a service and mark it for deletion. A service the manager
// does not know is simply not running. False only when a running service would not stop.
bool StopAndUnregisterService(const std::wstring& serviceName);

// Only stops the service; `wasRunning` says whether it ran. False only when a running service would not
// stop.
bool StopService(const std::wstring& serviceName, bool& wasRunning);
// Starts a service that StopService stopped.
void StartServiceAgain(const std::wstring& serviceName);

// Services stopped to let go of a file, started again when this object goes unless the removal that
// needed them stopped went ahead (Commit): every refusal after the stop leaves them running as before.
class StoppedServices {
public:
    StoppedServices() = default;
    ~StoppedServices();
    StoppedServices(const StoppedServices&) = delete;
    StoppedServices& operator=(const StoppedServices&) = delete;

    // Stops each of `names`; those that ran are remembered.
    void Stop(const std::vector<std::wstring>& names);
    // The services are being removed: none is started again.
    void Commit() { names_.clear(); }
    const std::vector<std::wstring>& Names() const { return names_; }

private:
    std::vector<std::wstring> names_;
};
