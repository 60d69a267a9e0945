#pragma once
#include <string>

// Asks the service control manager to stop a service and mark it for deletion. A service the manager
// does not know is simply not running. False only when a running service would not stop.
bool StopAndUnregisterService(const std::wstring& serviceName);

// Only stops the service; `wasRunning` says whether it ran. False only when a running service would not
// stop.
bool StopService(const std::wstring& serviceName, bool& wasRunning);
// Starts a service that StopService stopped.
void StartServiceAgain(const std::wstring& serviceName);
